// One run against the add-in: the driver side set up (a simulated chain
// in process, or the service already running for the Windows directory),
// the add-in loaded and opened; undone in reverse at the end.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "kestrel/addin.h"
#include "kestrel/options.h"
#include "sim/unit_config.h"

namespace kestrel_tool {

class ScratchDir;
class SimService;
class TraceSilencer;
class Watchdog;

// The chain that --sim or --sim-demo asks for, if any. Throws ToolError
// (usage) when the configuration cannot be read.
std::optional<sim::ChainConfig> ChainFromOptions(const GlobalOptions& options);

class Session {
public:
    // Serves `chain` in process when given. Throws ToolError.
    Session(const GlobalOptions& options, std::optional<sim::ChainConfig> chain);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Addin& addin() { return *addin_; }
    const std::string& windir() const { return windir_; }

    // Throws ToolError (usage) unless the MCB answers and has the detector;
    // for a command that changes it, as RequireLockFree does.
    void RequireDetector(const DetectorArgs& target);

private:
    std::unique_ptr<TraceSilencer> silencer_;
    std::unique_ptr<ScratchDir> scratch_;
    std::string windir_;
    std::unique_ptr<SimService> service_;
    std::unique_ptr<Watchdog> watchdog_;
    std::unique_ptr<Addin> addin_;
    bool opened_ = false;
};

}  // namespace kestrel_tool

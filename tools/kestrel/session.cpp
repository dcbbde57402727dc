#include "kestrel/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kestrel/console.h"
#include "kestrel/detector_lock.h"
#include "kestrel/driver_path.h"
#include "kestrel/tool_error.h"
#include "kestrel/scratch_dir.h"
#include "kestrel/sim_service.h"
#include "kestrel/unit_access.h"
#include "kestrel/watchdog.h"
#include "sim/chain.h"
#include "sim/config.h"
#include "sim/demo.h"

namespace kestrel_tool {

namespace {

// Why a file cannot be opened or read, as the system says it.
std::string FileTrouble(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char byte;
    if (fd >= 0 && ::read(fd, &byte, 1) >= 0) errno = 0;
    int error = errno;
    if (fd >= 0) ::close(fd);
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

}  // namespace

std::optional<sim::ChainConfig> ChainFromOptions(const GlobalOptions& options) {
    if (options.simDemo) return sim::DemoChainConfig();
    if (options.simConfig.empty()) return std::nullopt;
    std::string error;
    std::optional<sim::ChainConfig> config = sim::LoadChainConfig(options.simConfig, &error);
    if (!config)
        throw ToolError(kExitUsage, "cannot use the simulator configuration: " + error +
                                        FileTrouble(options.simConfig));
    return config;
}

Session::Session(const GlobalOptions& options, std::optional<sim::ChainConfig> chain) {
    if (options.trace < 0) silencer_ = std::make_unique<TraceSilencer>();
    bool simulated = chain.has_value();
    if (!options.windir.empty()) {
        windir_ = options.windir;
        if (simulated) MakeDirectories(windir_);
    } else if (simulated) {
        scratch_ = std::make_unique<ScratchDir>();
        windir_ = scratch_->path();
    } else {
        windir_ = DefaultWindowsDirectory();
    }
    // The add-in reads it once, when the library is loaded.
    ::setenv("WINDIR", windir_.c_str(), 1);
    RequireUnitAccess(windir_);

    if (simulated) {
        service_ = std::make_unique<SimService>(windir_, sim::Chain::fromConfig(*chain));
    } else if (std::string reason; !DriverServiceAnswers(windir_, &reason)) {
        throw ToolError(kExitEnvironment,
                        "no driver service answers at " + DriverSocketPath(windir_) + " (" + reason +
                            "); start one with 'kestrel-portd --windir " + windir_ +
                            "', or let this run simulate a chain with --sim CONFIG or --sim-demo");
    }

    // Before the add-in opens: opening already waits for the MCB mutex.
    watchdog_ = std::make_unique<Watchdog>(
        WatchSettings{windir_, simulated ? std::string() : DriverSocketPath(windir_), options.timeout});
    addin_ = Addin::Load(LocateAddin(options.addinPath));
    if (options.trace >= 0) addin_->SetDebugLevel(options.trace);
    addin_->Open();
    opened_ = true;
    NoticeWorkingAlone(windir_);
}

Session::~Session() {
    if (opened_) addin_->Close();
    watchdog_.reset();
    // The add-in goes before the service it talks to.
    addin_.reset();
    service_.reset();
}

void Session::RequireDetector(const DetectorArgs& target) {
    int count = addin_->DetectorCount(target.mcb);
    if (count <= 0)
        throw ToolError(kExitUsage, "no MCB answers at number " + std::to_string(target.mcb) +
                                        " ('kestrel list' shows the units found)");
    if (target.det < 1 || target.det > count)
        throw ToolError(kExitUsage, "MCB " + std::to_string(target.mcb) + " has detector" +
                                        (count == 1 ? " 1" : "s 1 to " + std::to_string(count)) +
                                        "; there is no detector " + std::to_string(target.det));
    if (target.changes) RequireLockFree(*addin_, target);
}

}  // namespace kestrel_tool

#include "kestrel/session.h"

#include <cstdlib>

#include "kestrel/console.h"
#include "kestrel/driver_path.h"
#include "kestrel/exit_codes.h"
#include "kestrel/scratch_dir.h"
#include "kestrel/sim_service.h"
#include "kestrel/unit_access.h"
#include "sim/chain.h"
#include "sim/config.h"
#include "sim/demo.h"

namespace kestrel_tool {

std::optional<sim::ChainConfig> ChainFromOptions(const GlobalOptions& options) {
    if (options.simDemo) return sim::DemoChainConfig();
    if (options.simConfig.empty()) return std::nullopt;
    std::string error;
    std::optional<sim::ChainConfig> config = sim::LoadChainConfig(options.simConfig, &error);
    if (!config)
        throw ToolError(kExitUsage, "cannot use the simulator configuration: " + error);
    return config;
}

Session::Session(const GlobalOptions& options, std::optional<sim::ChainConfig> chain) {
    if (options.trace < 0) silencer_ = std::make_unique<TraceSilencer>();
    simulated_ = chain.has_value();
    if (!options.windir.empty()) {
        windir_ = options.windir;
        if (simulated_) MakeDirectories(windir_);
    } else if (simulated_) {
        scratch_ = std::make_unique<ScratchDir>();
        windir_ = scratch_->path();
    } else {
        windir_ = DefaultWindowsDirectory();
    }
    // The add-in reads it once, when the library is loaded.
    ::setenv("WINDIR", windir_.c_str(), 1);
    RequireUnitAccess(windir_);

    if (simulated_) {
        service_ = std::make_unique<SimService>(windir_, sim::Chain::FromConfig(*chain));
    } else if (!DriverServiceAnswers(windir_)) {
        throw ToolError(kExitEnvironment,
                        "no driver service answers at " + DriverSocketPath(windir_) +
                            "; start one with 'kestrel-portd --windir " + windir_ +
                            "', or let this run simulate a chain with --sim CONFIG or --sim-demo");
    }

    addin_ = Addin::Load(LocateAddin(options.addinPath));
    if (options.trace >= 0) previousTraceLevel_ = addin_->SetDebugLevel(options.trace);
    addin_->Open();
    opened_ = true;
    NoticeWorkingAlone(windir_);
}

Session::~Session() {
    if (opened_) addin_->Close();
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
}

}  // namespace kestrel_tool

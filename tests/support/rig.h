// The whole add-in on a simulated chain: the platform double, a chain of simulated MCBs on the same fake
// clock, the emulated driver behind the device paths, and one add-in object.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "addin/kestrel.h"
#include "addin/process_state.h"
#include "sim/chain.h"
#include "sim/config.h"
#include "sim/driver.h"
#include "support/fake_os.h"

namespace fake {

constexpr const char* kNtDevice = "\\\\.\\TarnDev";
constexpr const char* kW95Device = "\\\\.\\KMZ01D.VXD";
constexpr std::int64_t kEpoch = 1700000000;  // the units' calendar at start

// A type-5 segment unit (version "0919-005") with `nDetectors` inputs of
// `nChannels`, each input with feature words 0 to 3 and `nViews` views.
sim::UnitConfig SegmentUnit(int nDetectors, std::uint32_t nChannels,
                            std::array<std::uint32_t, 4> features = {}, int nViews = 1);

class Rig {
public:
    FakeOs os;

private:
    Installed installed_{os};

public:
    std::unique_ptr<sim::Chain> chain;
    Kestrel addin;

    // An empty chain; add units with chain->addUnit or LoadChain.
    Rig();
    // The chain a simulator configuration describes, on the rig's clock.
    void LoadChain(sim::ChainConfig config);
    // Serves the chain behind the Windows NT driver's path.
    void ConnectNt();
    // Serves it behind the Windows 95 VxD, which answers code 1 with `lpt`.
    void ConnectWin95(std::int32_t lpt = 0x378);
    // Opens the driver as start-up would, without enumerating.
    void OpenDriverOnly();
    sim::Unit& Unit(int nMcb) { return *chain->unit(nMcb); }
    McbRecord& Record(int nMcb) { return os.shared.records[nMcb - 9]; }
};

}  // namespace fake

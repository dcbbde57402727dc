#include "sim/demo.h"

#include <ctime>
#include <string>

#include "sim/chain.h"

namespace sim {

UnitConfig DemoSegmentUnit(std::int64_t epoch) {
    UnitConfig unit;
    unit.mailboxType = 5;
    unit.version = "0919-005";
    unit.detectors = 2;
    unit.channels = 4096;
    unit.detector.resize(2);
    for (int d = 0; d < 2; ++d) {
        DetectorConfig& det = unit.detector[d];
        det.features = {0x00110000, 0x00002000, 0x20000000, 0x80000000,
                        0x11u + 0x44u * d, 0x22, 0x33, 0x44};
        det.views = 2;
    }
    unit.detector[0].dataMask = 0x7FFFFFFF;
    unit.detector[0].auxMask = 0x80000000;
    unit.detector[0].acquiring = true;
    unit.detector[0].liveMs = 60000;
    unit.detector[0].startStamp = epoch - 60;
    unit.detector[1].dataMask = 0x00FFFFFF;
    unit.detector[1].auxMask = 0xFF000000;
    unit.detector[1].liveMs = 30000;
    unit.detector[1].startStamp = epoch - 3600;
    // Stopped 30 s after its start, as `kestrel stop` records it.
    unit.detector[1].appData["KESTREL_RUN"] =
        std::to_string(epoch - 3600) + " " + std::to_string(epoch - 3600 + 30) + " 0";
    return unit;
}

UnitConfig DemoDeviceUnit(std::int64_t epoch) {
    UnitConfig unit;
    unit.mailboxType = 4;
    unit.version = "8474-001";
    unit.channels = 16384;
    unit.detector.resize(kDevicesPerUnit);
    for (DetectorConfig& det : unit.detector) {
        det.features = {0x00010000, 0, 0, 0};
        det.dataMask = 0x00FFFFFF;
        det.auxMask = 0;  // the top byte is the mailbox's
    }
    unit.detector[0].liveMs = 120000;
    unit.detector[0].startStamp = epoch - 7200;
    unit.detector[1].acquiring = true;
    return unit;
}

ChainConfig DemoChainConfig(std::optional<std::int64_t> epoch) {
    ChainConfig config;
    config.epoch = epoch.value_or(static_cast<std::int64_t>(std::time(nullptr)));
    config.units[9] = DemoSegmentUnit(*config.epoch);
    config.units[12] = DemoDeviceUnit(*config.epoch);
    return config;
}

std::unique_ptr<Chain> Chain::demo(Clock clock, std::optional<std::int64_t> epoch) {
    return fromConfig(DemoChainConfig(epoch), std::move(clock));
}

}  // namespace sim

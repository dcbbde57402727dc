#include "support/rig.h"

#include "discovery/probe.h"

namespace fake {

sim::UnitConfig SegmentUnit(int nDetectors, std::uint32_t nChannels, std::array<std::uint32_t, 4> features,
                            int nViews) {
    sim::UnitConfig config;
    config.mailboxType = 5;
    config.version = "0919-005";
    config.detectors = nDetectors;
    config.channels = nChannels;
    config.detector.resize(static_cast<std::size_t>(nDetectors));
    for (auto& detector : config.detector) {
        for (std::size_t i = 0; i < features.size(); ++i) detector.features[i] = features[i];
        detector.views = nViews;
    }
    return config;
}

Rig::Rig() : chain(std::make_unique<sim::Chain>([this] { return os.Now(); }, kEpoch)) {}

void Rig::LoadChain(sim::ChainConfig config) {
    if (!config.epoch) config.epoch = kEpoch;
    chain = sim::Chain::fromConfig(config, [this] { return os.Now(); });
}

void Rig::ConnectNt() {
    os.platformId = platform::kPlatformNt;
    os.devices[kNtDevice] = [this] { return std::make_shared<sim::EmulatedDriver>(*chain); };
}

void Rig::ConnectWin95(std::int32_t lpt) {
    os.platformId = platform::kPlatformWin95;
    os.devices[kW95Device] = [this, lpt] {
        auto driver = std::make_shared<sim::EmulatedDriver>(*chain);
        driver->lptAnswer = lpt;
        return driver;
    };
}

void Rig::OpenDriverOnly() {
    ProcessState& process = Process();
    process.dwPlatformId = os.platformId;
    process.hPortDriver = os.DriverOpen(os.platformId == platform::kPlatformNt ? kNtDevice : kW95Device, 0, 0, 0, 0);
}

}  // namespace fake

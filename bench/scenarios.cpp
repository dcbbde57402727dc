#include "bench/scenarios.h"

#include <array>
#include <string>

namespace bench {

namespace {

constexpr std::uint32_t kDetsDiffer = 0x00002000;  // word 1: detectors are queried one by one
constexpr std::uint32_t kExtended = 0x80000000;    // word 3: "SHOW_FEAT_EXTE" is there
constexpr std::uint32_t kAppDataInMcb = 0x00100000;  // word 0: named values live in the unit

sim::DetectorConfig Detector(std::array<std::uint32_t, 8> words = {},
                             std::map<std::string, std::string> appData = {}) {
    sim::DetectorConfig detector;
    for (std::size_t i = 0; i < words.size(); ++i) detector.features[i] = words[i];
    detector.appData = std::move(appData);
    return detector;
}

sim::UnitConfig Unit(int mailboxType, const char* version, int detectors, std::uint32_t channels,
                     std::vector<sim::DetectorConfig> perDetector = {}) {
    sim::UnitConfig unit;
    unit.mailboxType = mailboxType;
    unit.version = version;
    unit.detectors = detectors;
    unit.channels = channels;
    unit.detector = std::move(perDetector);
    // Every input spelled out, so the model never leans on defaults.
    unit.detector.resize(static_cast<std::size_t>(unit.detectorCount()), Detector());
    return unit;
}

sim::UnitConfig SingleUnit() { return Unit(5, "A706-101", 1, kUnitChannels); }

// Eight units covering both mailbox types, segment and four-device units,
// alike and differing inputs, extended feature words and named values kept
// in the unit (found and not found).
ChainLayout FullChain() {
    ChainLayout chain;
    chain[9] = SingleUnit();
    chain[10] = Unit(4, "A474-220", 4, 4096);
    chain[11] = Unit(5, "A706-102", 4, 4096,
                     {Detector({0, kDetsDiffer}), Detector(), Detector({0, 0, 0, kExtended, 11, 22, 33, 44}),
                      Detector()});
    chain[12] = Unit(4, "A706-103", 2, 8192, {Detector({0, 0, 0, kExtended, 5, 6, 7, 8})});
    chain[13] = Unit(5, "A706-104", 1, kUnitChannels,
                     {Detector({kAppDataInMcb}, {{"@LOCK", "7 bench"}, {"@START", "1700000000"}})});
    chain[14] = Unit(4, "B474-330", 4, 4096, {Detector({kAppDataInMcb})});
    chain[15] = Unit(5, "A706-105", 16, 1024);
    chain[16] = Unit(4, "A706-106", 3, 4096,
                     {Detector({0, kDetsDiffer}), Detector({kAppDataInMcb}, {{"@LOCK", "12 owner"}}), Detector()});
    return chain;
}

}  // namespace

const char* ProtocolName(Protocol protocol) { return protocol == Protocol::Nt ? "NT" : "Win95"; }

ChainLayout MakeChain(ChainKind kind) {
    switch (kind) {
        case ChainKind::NoDriver:
        case ChainKind::Empty: return {};
        case ChainKind::Single: return {{kUnitMcb, SingleUnit()}};
        case ChainKind::Full: return FullChain();
    }
    return {};
}

const std::vector<OpInfo>& Operations() {
    static const std::vector<OpInfo> ops = {
        {Op::ShowVers, "ShowVers", "SHOW_VERS exchange", ChainKind::Single, false},
        {Op::ProbePresent, "ProbePresent", "ProbeMcb present", ChainKind::Single, false},
        {Op::ProbeAbsent, "ProbeAbsent", "ProbeMcb absent", ChainKind::Single, false},
        {Op::InitEmpty, "InitEmpty", "InitDetectors empty", ChainKind::Empty, false},
        {Op::InitFull, "InitFull", "InitDetectors 8 units", ChainKind::Full, false},
        {Op::SetRoi, "SetRoi", "SetROI", ChainKind::Single, false},
        {Op::SetRoiReselect, "SetRoiReselect", "SetROI reselect", ChainKind::Single, false},
        {Op::GetData, "GetData16384", "GetData 16384", ChainKind::Single, false},
        {Op::SetData, "SetData1024", "SetData 1024", ChainKind::Single, false},
        {Op::StartupNoDriver, "NoDriver", "Startup no driver", ChainKind::NoDriver, true},
        {Op::StartupEmpty, "Empty", "Startup empty", ChainKind::Empty, true},
        {Op::StartupFull, "Full", "Startup 8 units", ChainKind::Full, true},
    };
    return ops;
}

const OpInfo& Info(Op op) {
    for (const OpInfo& info : Operations())
        if (info.op == op) return info;
    return Operations().front();
}

}  // namespace bench

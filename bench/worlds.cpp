#include "bench/worlds.h"

#include <memory>

#include "addin/process_state.h"
#include "discovery/probe.h"
#include "platform/platform.h"
#include "protocol/dialog.h"
#include "sim/driver.h"

namespace bench {

namespace {

const McbRecord& RecordOf(World world, int mcb) { return world.os.shared.records[mcb - sim::kFirstMcb]; }

bool Present(World world, int mcb) { return RecordOf(world, mcb).nMailboxType != -1; }

// Every MCB number answers exactly when the chain has a unit there.
bool Matches(World world, const ChainLayout& layout) {
    for (int mcb = sim::kFirstMcb; mcb <= sim::kLastMcb; ++mcb)
        if (Present(world, mcb) != (layout.count(mcb) != 0)) return false;
    return true;
}

const char* DevicePath(Protocol protocol) { return protocol == Protocol::Nt ? fake::kNtDevice : fake::kW95Device; }

// As start-up opens the driver, without the port request and enumeration.
void OpenDriver(World world, Protocol protocol) {
    ProcessState& process = Process();
    process.dwPlatformId = world.os.platformId;
    process.hPortDriver = world.os.DriverOpen(DevicePath(protocol), 0, 0, 0, 0);
}

}  // namespace

std::uint32_t RealClockOs::TickCount() { return platform::NativeOs().TickCount(); }

void RealClockOs::SleepMs(std::uint32_t ms) {
    ++sleeps;
    platform::NativeOs().SleepMs(ms);
}

RealWorld::RealWorld() : chain(std::make_unique<sim::Chain>([this] { return os.TickCount(); }, fake::kEpoch)) {}

bool Prepare(World world, Op op, Protocol protocol) {
    const OpInfo& info = Info(op);
    const ChainLayout layout = MakeChain(info.chain);
    for (const auto& [mcb, unit] : layout) world.chain.addUnit(mcb, unit);

    fake::FakeOs& os = world.os;
    // Fake time passes in the pauses alone: no wait can reach a time-out
    // however many requests an operation makes.
    os.requestCostMicros = 0;
    os.platformId = protocol == Protocol::Nt ? platform::kPlatformNt : platform::kPlatformWin95;
    if (info.chain != ChainKind::NoDriver) {
        sim::Chain* chain = &world.chain;
        // A driver of the one protocol: a request in the other one is refused.
        const auto spoken = protocol == Protocol::Nt ? sim::EmulatedDriver::Protocol::Nt
                                                     : sim::EmulatedDriver::Protocol::Win95;
        os.devices[DevicePath(protocol)] = [chain, spoken] {
            auto driver = std::make_shared<sim::EmulatedDriver>(*chain);
            driver->protocol = spoken;
            return driver;
        };
    }
    if (info.startup) return true;

    OpenDriver(world, protocol);
    if (Process().hPortDriver == platform::kInvalidHandle) return false;
    world.addin.InitDetectors();
    return Matches(world, layout);
}

OpRunner::OpRunner(World world, Op op) : world_(world), op_(op), layout_(MakeChain(Info(op).chain)) {
    if (op == Op::GetData) buffer_.assign(kGetChannels, 0);
    if (op == Op::SetData)
        for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(kSetChannels); ++i) buffer_.push_back(i * 7 + 1);
}

bool OpRunner::operator()() {
    Kestrel& addin = world_.addin;
    std::int32_t localErr = 0, status2 = 0;
    switch (op_) {
        case Op::ShowVers: {
            char resp[16];
            std::int32_t length = 0;
            return mcb_dialog(kUnitMcb, "SHOW_VERS", 9, sizeof resp, resp, &length, &localErr, &status2) == 1 &&
                   localErr == 0 && length == 10;
        }
        case Op::ProbePresent:
            ProbeMcb(kUnitMcb);
            return Present(world_, kUnitMcb) && RecordOf(world_, kUnitMcb).nDetectors == 1;
        case Op::ProbeAbsent:
            ProbeMcb(kAbsentMcb);
            return !Present(world_, kAbsentMcb);
        case Op::InitEmpty:
        case Op::InitFull:
            addin.InitDetectors();
            return Matches(world_, layout_);
        case Op::SetRoiReselect: addin.InvalidateMcb(kUnitMcb); [[fallthrough]];
        case Op::SetRoi:
            return addin.SetROI(kUnitMcb, 1, kRoiStart, kRoiLength, 0, &localErr, &status2) == 1;
        case Op::GetData: {
            std::uint32_t dataMask = 0, auxMask = 0;
            return addin.GetData(kUnitMcb, 1, &dataMask, &auxMask, 0, 0, kGetChannels, 0, buffer_.data()) == 1;
        }
        case Op::SetData: return addin.SetData(kUnitMcb, 1, 0, 0, kSetChannels, 0, buffer_.data()) == 1;
        case Op::StartupNoDriver:
        case Op::StartupEmpty:
        case Op::StartupFull: {
            addin.Open();
            const bool driverOpen = Process().hPortDriver != platform::kInvalidHandle;
            bool ok = (Info(op_).chain != ChainKind::NoDriver) == driverOpen && Matches(world_, layout_);
            addin.Close();
            return ok && Process().hPortDriver == platform::kInvalidHandle;
        }
    }
    return false;
}

void Housekeep(World world) {
    world.os.ClearTrace();
    world.os.opens.clear();
    for (int mcb = sim::kFirstMcb; mcb <= sim::kLastMcb; ++mcb)
        if (sim::Unit* unit = world.chain.unit(mcb)) unit->clearLogs();
}

}  // namespace bench

// Spectrum words read and written directly in MCB data memory: addresses
// of segments and devices, the data space after a view command, the mask
// arithmetic of SetData and runs that leave the detector's channels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/process_state.h"
#include "port/device_memory.h"
#include "support/rig.h"

namespace {

using Texts = std::vector<std::string>;

// A driver transfer in a data space: the set-address request and the
// request that follows it.
struct Transfer {
    std::uint32_t unit;
    std::uint32_t address;
    std::uint32_t length;
    std::uint32_t code;
    bool operator==(const Transfer& o) const {
        return unit == o.unit && address == o.address && length == o.length && code == o.code;
    }
};

std::ostream& operator<<(std::ostream& out, const Transfer& t) {
    return out << "{unit " << t.unit << ", address " << t.address << ", length " << t.length << ", code 0x"
               << std::hex << t.code << std::dec << "}";
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::vector<Transfer> DataTransfers(const fake::FakeOs& os) {
    std::vector<Transfer> transfers;
    const auto& log = os.requestLog;
    for (std::size_t i = 0; i + 1 < log.size(); ++i) {
        if (log[i].code != NT_SET_ADDRESS || log[i].in.size() != 16) continue;
        const std::uint32_t unit = Le32(log[i].in, 4);
        if (unit & 8) continue;  // mailbox space
        transfers.push_back({unit, Le32(log[i].in, 8), Le32(log[i].in, 12), log[i + 1].code});
    }
    return transfers;
}

class Spectrum : public ::testing::Test {
protected:
    fake::Rig rig;
    sim::Unit* segments = nullptr;
    sim::Unit* devices = nullptr;

    void SetUp() override {
        // MCB 10: four segments of 4096 channels, each with two views.
        sim::UnitConfig seg = fake::SegmentUnit(4, 4096, {0, 0x00002000, 0x20000000, 0}, 2);
        seg.detector[1].dataMask = 0x00FFFFFF;
        seg.detector[1].auxMask = 0xFF000000;
        seg.detector[2].dataMask = 0x0FFFFFFF;
        seg.detector[2].auxMask = 0x30000000;
        seg.detector[3].dataMask = 0x000000FF;
        seg.detector[3].auxMask = 0x0000FF00;
        segments = rig.chain->addUnit(10, seg);
        // MCB 12: four devices of 1024 channels, no views.
        devices = rig.chain->addUnit(12, fake::DeviceUnit(1024));
        rig.ConnectNt();
        rig.OpenDriverOnly();
        rig.addin.InitDetectors();
        Begin();
    }
    void TearDown() override { EXPECT_EQ(rig.os.mutexDepth(), 0); }
    void Begin() {
        segments->clearLogs();
        devices->clearLogs();
        rig.os.ClearTrace();
        rig.os.requestLog.clear();
        rig.os.logRequests = true;
    }
    std::uint32_t& Word(sim::Unit* unit, int nDet, std::uint32_t channel) { return *unit->state().word(nDet, channel); }
};

TEST_F(Spectrum, GetDataReadsARunOfASegmentInOneRequest) {
    ASSERT_EQ(rig.Record(10).wChannels[0], 4096);
    for (std::uint32_t i = 0; i < 5; ++i) Word(segments, 3, 10 + i) = 0x80000000u | (0x01020300u + i);
    std::uint32_t buffer[5] = {};
    std::uint32_t dwData = 0, dwAux = 0;
    EXPECT_EQ(rig.addin.GetData(10, 3, &dwData, &dwAux, 0, 10, 5, 0, buffer), 1);
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(buffer[i], 0x80000000u | (0x01020300u + i)) << i;  // raw words
    EXPECT_EQ(dwData, 0x0FFFFFFFu);
    EXPECT_EQ(dwAux, 0x30000000u);
    EXPECT_EQ(rig.Received(10), (Texts{"SET_SEGM 3", "SET_VIEW 0"}));
    // 4 x (4096 x 2 + 10), in the data space of MCB 10 (unit byte 1).
    EXPECT_EQ(DataTransfers(rig.os), (std::vector<Transfer>{{1, 32808, 20, NT_READ}}));

    // Null mask pointers: the words are still read.
    Begin();
    std::uint32_t one = 0;
    EXPECT_EQ(rig.addin.GetData(10, 3, nullptr, nullptr, 0, 14, 1, 0, &one), 1);
    EXPECT_EQ(one, 0x80000000u | 0x01020304u);
    EXPECT_EQ(DataTransfers(rig.os), (std::vector<Transfer>{{1, 32824, 4, NT_READ}}));

    // No channels: the masks and the selections, but no transfer.
    Begin();
    dwData = dwAux = 0;
    EXPECT_EQ(rig.addin.GetData(10, 2, &dwData, &dwAux, 0, 10, 0, 0, buffer), 1);
    EXPECT_EQ(dwData, 0x00FFFFFFu);
    EXPECT_EQ(dwAux, 0xFF000000u);
    EXPECT_EQ(rig.Received(10), (Texts{"SET_SEGM 2"}));
    EXPECT_EQ(rig.addin.GetData(10, 2, &dwData, &dwAux, 0, 10, -3, 0, buffer), 1);
    EXPECT_TRUE(DataTransfers(rig.os).empty());

    // Invalid detector: -1 and the outputs untouched.
    dwData = dwAux = 0x77;
    EXPECT_EQ(rig.addin.GetData(10, 5, &dwData, &dwAux, 0, 0, 1, 0, buffer), -1);
    EXPECT_EQ(dwData, 0x77u);
    EXPECT_EQ(dwAux, 0x77u);
}

TEST_F(Spectrum, GetDataReadsADevicesOwnMemoryAfterSelectingIt) {
    Word(devices, 1, 10) = 0x11111111;
    Word(devices, 3, 10) = 0x33333333;
    Word(devices, 3, 11) = 0x44332211;
    std::uint32_t buffer[2] = {};
    EXPECT_EQ(rig.addin.GetData(12, 3, nullptr, nullptr, 0, 10, 2, 0, buffer), 1);
    EXPECT_EQ(buffer[0], 0x33333333u);
    EXPECT_EQ(buffer[1], 0x44332211u);
    EXPECT_EQ(rig.Received(12), (Texts{"SET_DEVI 3"}));
    EXPECT_EQ(DataTransfers(rig.os), (std::vector<Transfer>{{3, 40, 8, NT_READ}}));
}

TEST_F(Spectrum, AViewCommandDoesNotLeaveTheReadInTheMailbox) {
    Word(segments, 1, 0) = 0xCAFEF00D;
    std::uint32_t word = 0;
    ASSERT_EQ(rig.addin.GetData(10, 1, nullptr, nullptr, 0, 0, 1, 0, &word), 1);
    Begin();
    word = 0;
    EXPECT_EQ(rig.addin.GetData(10, 1, nullptr, nullptr, 0, 0, 1, 1, &word), 1);
    EXPECT_EQ(rig.Received(10), (Texts{"SET_VIEW 1"}));
    EXPECT_EQ(word, 0xCAFEF00Du);
    EXPECT_EQ(DataTransfers(rig.os), (std::vector<Transfer>{{1, 0, 4, NT_READ}}));
}

TEST_F(Spectrum, RunsBeyondTheDetectorsChannelsAreRefused) {
    std::uint32_t buffer[10] = {};
    EXPECT_EQ(rig.addin.GetData(10, 1, nullptr, nullptr, 0, 4086, 10, 0, buffer), 1);  // ends on the last channel
    Begin();
    EXPECT_EQ(rig.addin.GetData(10, 1, nullptr, nullptr, 0, 4090, 10, 0, buffer), -1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::GetData(): channels 4090 to 4099 are outside the 4096 channels of "
                                "detector 1!\r\n"),
              1);
    EXPECT_EQ(rig.addin.GetData(10, 1, nullptr, nullptr, 0, 0xFFFFFFFFu, 1, 0, buffer), -1);
    EXPECT_EQ(rig.addin.GetData(12, 4, nullptr, nullptr, 0, 16384, 1, 0, buffer), -1);  // a device has 16384
    const std::uint32_t values[2] = {1, 2};
    EXPECT_EQ(rig.addin.SetData(10, 4, 0, 4095, 2, 0, values), -1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::SetData(): channels 4095 to 4096 are outside the 4096 channels of "
                                "detector 4!\r\n"),
              1);
    EXPECT_TRUE(DataTransfers(rig.os).empty());
    EXPECT_EQ(Word(segments, 4, 4095), 0u);
}

TEST_F(Spectrum, SetDataKeepsTheBitsOutsideTheDataMask) {
    Word(segments, 1, 20) = 0x80000005;  // data mask 0x7FFFFFFF
    const std::uint32_t nine = 9;
    EXPECT_EQ(rig.addin.SetData(10, 1, 0, 20, 1, 1, &nine), 1);
    EXPECT_EQ(Word(segments, 1, 20), 0x80000009u);
    const std::uint32_t topAndNine = 0x80000009;
    Word(segments, 1, 20) = 0x00000005;
    EXPECT_EQ(rig.addin.SetData(10, 1, 0, 20, 1, 1, &topAndNine), 1);
    EXPECT_EQ(Word(segments, 1, 20), 0x00000009u);  // the top bit of the value is masked off
    // SetData selects no view, whatever its view argument.
    EXPECT_EQ(segments->timesReceived("SET_VIEW 1"), 0);

    // Three channels of segment 2 (mask 0x00FFFFFF) ending on its last one:
    // read and write each word in turn, in ascending order.
    Begin();
    Word(segments, 2, 4093) = 0xAB000001;
    Word(segments, 2, 4094) = 0x12000000;
    Word(segments, 2, 4095) = 0xFFFFFFFF;
    Word(segments, 3, 0) = 0x5A5A5A5A;
    const std::uint32_t values[3] = {0xFF123456, 0x00000001, 0x00000000};
    EXPECT_EQ(rig.addin.SetData(10, 2, 0, 4093, 3, 0, values), 1);
    EXPECT_EQ(Word(segments, 2, 4093), 0xAB123456u);
    EXPECT_EQ(Word(segments, 2, 4094), 0x12000001u);
    EXPECT_EQ(Word(segments, 2, 4095), 0xFF000000u);
    EXPECT_EQ(Word(segments, 3, 0), 0x5A5A5A5Au);
    const std::uint32_t base = 4 * (4096 + 4093);
    EXPECT_EQ(DataTransfers(rig.os), (std::vector<Transfer>{{1, base, 4, NT_READ},
                                                            {1, base, 4, NT_WRITE},
                                                            {1, base + 4, 4, NT_READ},
                                                            {1, base + 4, 4, NT_WRITE},
                                                            {1, base + 8, 4, NT_READ},
                                                            {1, base + 8, 4, NT_WRITE}}));
    EXPECT_EQ(rig.Received(10), (Texts{"SET_SEGM 2"}));

    // Every byte of the word read back in place: here only the low one is data.
    Word(segments, 4, 0) = 0x12345678;
    const std::uint32_t ab = 0xFFFFFFAB;
    EXPECT_EQ(rig.addin.SetData(10, 4, 0, 0, 1, 0, &ab), 1);
    EXPECT_EQ(Word(segments, 4, 0), 0x123456ABu);

    // A device: its own memory from address 0.
    Begin();
    Word(devices, 2, 7) = 0xFF000000;
    const std::uint32_t seven = 0x1234567;
    EXPECT_EQ(rig.addin.SetData(12, 2, 0, 7, 1, 0, &seven), 1);
    EXPECT_EQ(Word(devices, 2, 7), 0x81234567u);  // the unit's data mask 0x7FFFFFFF
    EXPECT_EQ(DataTransfers(rig.os), (std::vector<Transfer>{{3, 28, 4, NT_READ}, {3, 28, 4, NT_WRITE}}));

    // Nothing to write, or nobody to write to.
    Begin();
    EXPECT_EQ(rig.addin.SetData(10, 3, 0, 0, 0, 0, values), 1);
    EXPECT_EQ(rig.Received(10), (Texts{"SET_SEGM 3"}));
    EXPECT_EQ(rig.addin.SetData(10, 5, 0, 0, 1, 0, values), -1);
    EXPECT_TRUE(DataTransfers(rig.os).empty());
}

TEST_F(Spectrum, FailedSelectionsAreTraced) {
    segments->faults.refuse("SET_SEGM", 2);
    std::uint32_t dwData = 0, word = 0;
    EXPECT_EQ(rig.addin.GetData(10, 3, &dwData, nullptr, 0, 0, 1, 0, &word), -1);
    EXPECT_EQ(dwData, 0x0FFFFFFFu);  // delivered before the selection failed
    EXPECT_EQ(rig.os.CountTrace("Kestrel::GetData(): Could not select DevSeg!\r\n"), 1);
    const std::uint32_t value = 1;
    EXPECT_EQ(rig.addin.SetData(10, 3, 0, 0, 1, 0, &value), -1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::SetData(): Could not select DevSeg!\r\n"), 1);
    segments->faults.refusals.clear();

    EXPECT_EQ(rig.addin.GetData(10, 3, nullptr, nullptr, 0, 0, 1, 2, &word), -1);  // views 0 and 1 only
    EXPECT_EQ(rig.os.CountTrace("Kestrel::GetData(): Could not select View!\r\n"), 1);
    EXPECT_TRUE(DataTransfers(rig.os).empty());
}

}  // namespace

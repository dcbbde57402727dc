// One exchange under each fault that needs no waiting, counted to the
// driver request in both driver protocols; single driver requests lost at
// chosen points of an exchange; and driver failures during spectrum
// transfers, which no layer reports.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "sim/demo.h"
#include "support/guarded_buffer.h"
#include "support/rig.h"

namespace {

using fake::GuardedBuffer;

constexpr int kMcb = 9;
constexpr int kDet = 2;
const std::string kVersionReply = "$F0919-005";

struct Exchange {
    bool result = false;
    std::int32_t respLen = -99, localErr = -99, status2 = -99;
    std::string resp;
    bool intact = false;
};

class ExchangeRig {
public:
    fake::Rig rig;
    sim::Unit* unit = nullptr;

    explicit ExchangeRig(bool nt) {
        unit = rig.chain->addUnit(kMcb, sim::DemoSegmentUnit(fake::kEpoch));
        if (nt)
            rig.ConnectNt();
        else
            rig.ConnectWin95();
        rig.OpenDriverOnly();
        Process().nDebugLevel = 1;
        rig.os.requestCostMicros = 1000;
        rig.addin.InitDetectors();
        // Detector 2 selected, so the raw command is one exchange and nothing else.
        rig.Record(kMcb).nCurDevSeg = kDet;
        unit->clearLogs();
        rig.os.ClearTrace();
    }
    sim::EmulatedDriver& driver() { return *rig.os.LastDriver(); }

    // "SHOW_VERS" through the raw command with an exactly sized buffer.
    Exchange ShowVersion(int respSize = 16) {
        GuardedBuffer resp(static_cast<std::size_t>(respSize));
        Exchange e;
        rig.os.driverRequests = 0;
        e.result = rig.addin.SendCommand(kMcb, kDet, "SHOW_VERS", respSize, resp.chars(), &e.respLen, &e.localErr,
                                         &e.status2);
        e.resp = resp.Text();
        e.intact = resp.Intact();
        EXPECT_EQ(rig.os.mutexDepth(), 0);
        return e;
    }
};

// --- faults without a wait: the exchange's requests, byte by byte ---------

struct CountedCase {
    const char* name;
    void (*inject)(sim::Faults&);
    int accesses;     // mailbox bytes read or written: one request each (Windows 95), two (NT)
    bool result;
    int localErr;
    int status2;
    const char* resp;
    int received;     // times the unit took the command
    int badRecords;   // "found bad %." lines
};

// flush 3 (INFLG, OUTFLG, INFLG); post 12 (length 2, text 9, OUTFLG);
// a reply of 10: INFLG, length 2, the '%' test, 10 characters, INFLG;
// other messages of L characters: INFLG, length 2, min(L, 16), INFLG.
const CountedCase kCounted[] = {
    {"Clean", [](sim::Faults&) {}, 3 + 12 + 15 + 14, true, 0, 0, "$F0919-005", 1, 0},
    // The first garbage line (13 characters) is the reply; the second is skipped.
    {"GarbageFirst", [](sim::Faults& f) { f.garbageMessages = 2; }, 3 + 12 + 17 + 17 + 14 + 14, true, 0, 0,
     "\x01\x7F%\xFE\x80garbage0", 1, 0},
    {"TwoExtraLines", [](sim::Faults& f) { f.extraLines = 2; }, 3 + 12 + 15 + 2 * 16 + 14, true, 0, 0,
     "$F0919-005", 1, 0},
    {"NineExtraLines", [](sim::Faults& f) { f.extraLines = 9; }, 3 + 12 + 15 + 9 * 16 + 14, true, 0, 0,
     "$F0919-005", 1, 0},
    // Ten skipped messages end each attempt with OUTFLG and INFLG written
    // to 0; the third ends the exchange with OUTFLG written to 0 once more.
    // "EXTRA LINE 1" to "EXTRA LINE 9" have 12 characters, "EXTRA LINE 10" 13.
    {"TenExtraLines", [](sim::Faults& f) { f.extraLines = 10; }, 3 + 3 * (12 + 15 + 9 * 16 + 17 + 2) + 1, false, -3, 0,
     "", 3, 0},
    {"TenGarbageMessages", [](sim::Faults& f) { f.garbageMessages = 10; }, 3 + 3 * (12 + 17 + 9 * 17 + 14 + 2) + 1,
     false, -3, 0, "", 3, 0},
    {"BadThenGoodRecord", [](sim::Faults& f) { f.badThenGoodNext = 1; }, 3 + 12 + 15 + 14 + 14, true, 0, 0,
     "$F0919-005", 1, 1},
    {"TwelveCharacterRecord",
     [](sim::Faults& f) {
         f.wrongLengthNext = 1;
         f.wrongLength = 12;
     },
     3 + 12 + 15 + 16, true, 0, 0, "$F0919-005", 1, 0},
    // "BUSY 1" to "BUSY 9" have 6 characters, "BUSY 10" and "BUSY 11" 7.
    {"OneFlood", [](sim::Faults& f) { f.floodNext = 1; }, 3 + (12 + 10 + 8 * 10 + 2 * 11 + 2) + (12 + 15 + 14), true,
     0, 0, "$F0919-005", 2, 0},
    {"ThreeFloods", [](sim::Faults& f) { f.floodNext = 3; }, 3 + 3 * (12 + 10 + 8 * 10 + 2 * 11 + 2) + 1, false, -3,
     0, "", 3, 0},
    // 600 characters posted, 15 read: what the buffer of 16 holds.
    {"TooLongReply", [](sim::Faults& f) { f.tooLongNext = 1; }, 3 + 12 + 19 + 14, true, 0, 0, "$F0919-005XXXXX", 1,
     0},
    // The record in place of the reply: INFLG, length, '%', 10, INFLG.
    {"Refused", [](sim::Faults& f) { f.refuse("SHOW_VERS", 5, 12); }, 3 + 12 + 15, true, 5, 12, "", 1, 0},
};

void PrintTo(const CountedCase& c, std::ostream* os) { *os << c.name; }

class FaultCountedExchange : public ::testing::TestWithParam<std::tuple<bool, CountedCase>> {};

TEST_P(FaultCountedExchange, EveryMailboxByteIsOneRequestPerProtocolStep) {
    const bool nt = std::get<0>(GetParam());
    const CountedCase& c = std::get<1>(GetParam());
    ExchangeRig r(nt);
    c.inject(r.unit->faults);
    Exchange e = r.ShowVersion();
    EXPECT_EQ(r.rig.os.driverRequests, static_cast<std::uint64_t>(c.accesses * (nt ? 2 : 1)));
    EXPECT_EQ(e.result, c.result);
    EXPECT_EQ(e.localErr, c.localErr);
    EXPECT_EQ(e.status2, c.status2);
    EXPECT_EQ(e.resp, c.resp);
    EXPECT_EQ(e.respLen, static_cast<std::int32_t>(std::string(c.resp).size()));
    EXPECT_TRUE(e.intact);
    EXPECT_EQ(r.unit->timesReceived("SHOW_VERS"), c.received);
    EXPECT_EQ(r.rig.os.CountTrace("mcb_dialog() found bad %.\r\n"), c.badRecords);
    EXPECT_EQ(r.rig.os.CountTrace("mcb_dialog() Failure after 2 retries!\r\n"), c.result ? 0 : 1);
    EXPECT_EQ(r.unit->zeroLengthReceived(), 0);
    EXPECT_EQ(r.unit->mailboxByte(sim::kOutFlag), 0);  // taken, or abandoned with 0
    // The unit behaving again, the next exchange is the clean one.
    r.unit->faults = sim::Faults{};
    Exchange again = r.ShowVersion();
    EXPECT_TRUE(again.result);
    EXPECT_EQ(again.resp, kVersionReply);
    EXPECT_EQ(r.rig.os.driverRequests, static_cast<std::uint64_t>(kCounted[0].accesses * (nt ? 2 : 1)));
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, FaultCountedExchange,
                         ::testing::Combine(::testing::Values(true, false), ::testing::ValuesIn(kCounted)),
                         [](const ::testing::TestParamInfo<std::tuple<bool, CountedCase>>& info) {
                             return std::string(std::get<0>(info.param) ? "Nt_" : "Win95_") +
                                    std::get<1>(info.param).name;
                         });

// --- one request lost at a chosen point of a clean NT exchange ------------
// Mailbox accesses of "SHOW_VERS", counted from 1: flush 1-3, length 4-5,
// text 6-14, OUTFLG 15, reply 16-30 (its acknowledgement 30), record 31-44
// (the '%' read 34, the acknowledgement 44). Access k is the set-address
// request 2k-1 and the transfer 2k.

TEST(FaultLostRequest, ALostCommandFlagCostsOneRecoveryAndOneRetry) {
    ExchangeRig r(true);
    r.driver().failNext(1, 2 * 15 - 1);
    Exchange e = r.ShowVersion();
    EXPECT_TRUE(e.result);
    EXPECT_EQ(e.localErr, 0);
    EXPECT_EQ(e.resp, kVersionReply);
    EXPECT_EQ(r.rig.os.CountTrace("mcb_dialog() Comm err waiting for resp.\r\n"), 1);
    EXPECT_EQ(r.rig.os.CountTrace("wait_resp() zero len cmd success -- returning -1 (try again)\r\n"), 1);
    EXPECT_EQ(r.unit->timesReceived("SHOW_VERS"), 1);
    EXPECT_EQ(r.unit->zeroLengthReceived(), 1);
    EXPECT_EQ(r.driver().refused(), 1u);
}

TEST(FaultLostRequest, ALostAcknowledgementOfTheReplyShowsTheReplyOnceMoreAndIsSkipped) {
    ExchangeRig r(true);
    r.driver().failNext(1, 2 * 30 - 1);
    Exchange e = r.ShowVersion();
    EXPECT_TRUE(e.result);
    EXPECT_EQ(e.resp, kVersionReply);
    // The reply read again in the status phase: INFLG, length 2, 10, INFLG.
    EXPECT_EQ(r.rig.os.driverRequests, 2u * (44 + 14));
    EXPECT_EQ(r.unit->timesReceived("SHOW_VERS"), 1);
}

TEST(FaultLostRequest, ALostAcknowledgementOfTheRecordIsClearedByTheNextExchange) {
    ExchangeRig r(true);
    r.driver().failNext(1, 2 * 44 - 1);
    Exchange e = r.ShowVersion();
    EXPECT_TRUE(e.result);
    EXPECT_EQ(e.resp, kVersionReply);
    EXPECT_EQ(r.rig.os.driverRequests, 2u * 44);
    EXPECT_EQ(r.unit->mailboxByte(sim::kInFlag), 0xFF);  // the record still looks unread
    // The flush of the next exchange discards it.
    Exchange again = r.ShowVersion();
    EXPECT_TRUE(again.result);
    EXPECT_EQ(again.resp, kVersionReply);
    EXPECT_EQ(r.rig.os.driverRequests, 2u * 44);
    EXPECT_EQ(r.unit->mailboxByte(sim::kInFlag), 0);
}

TEST(FaultLostRequest, ALostReadOfTheRecordsMarkerLeavesNoRecordAndTimesOut) {
    ExchangeRig r(true);
    r.driver().failNext(1, 2 * 34 - 1);  // the read itself: the byte stays 0
    Exchange e = r.ShowVersion();
    EXPECT_FALSE(e.result);
    EXPECT_EQ(e.localErr, -2);
    EXPECT_EQ(e.resp, "");
    EXPECT_EQ(e.respLen, 0);
    EXPECT_EQ(r.rig.os.CountTrace("mcb_dialog() Timeout waiting for %!\r\n"), 1);
    EXPECT_EQ(r.unit->timesReceived("SHOW_VERS"), 1);
    EXPECT_TRUE(r.ShowVersion().result);
}

// No request reports an outcome: a lost read of the reply's length reads
// as 0, and the exchange completes with an empty reply.
TEST(FaultLostRequest, ALostReadOfTheReplyLengthGivesAnEmptyReplySilently) {
    ExchangeRig r(true);
    r.driver().failNext(1, 2 * 17 - 1);
    Exchange e = r.ShowVersion();
    EXPECT_TRUE(e.result);
    EXPECT_EQ(e.localErr, 0);
    EXPECT_EQ(e.resp, "");
    EXPECT_EQ(e.respLen, 0);
    EXPECT_TRUE(e.intact);
    EXPECT_EQ(r.rig.os.driverRequests, 2u * (3 + 12 + 4 + 14));
}

// --- driver failures during spectrum transfers ----------------------------

class FaultTransfer : public ::testing::TestWithParam<bool> {
protected:
    // Reads detector 2's first 2500 channels once, so that the segment and
    // view are selected and the next transfer is driver requests only.
    void Warm(ExchangeRig& r) {
        GuardedBuffer data(4 * 2500);
        ASSERT_EQ(r.rig.addin.GetData(kMcb, kDet, nullptr, nullptr, 0, 0, 2500, 0, data.words()), 1);
        r.rig.os.driverRequests = 0;
        r.unit->clearLogs();
    }
};

TEST_P(FaultTransfer, ADeadDriverLeavesTheReadBufferAsItWasAndTheResultSaysDone) {
    const bool nt = GetParam();
    ExchangeRig r(nt);
    ASSERT_NO_FATAL_FAILURE(Warm(r));
    r.driver().failAll = true;
    GuardedBuffer data(4 * 2500);
    EXPECT_EQ(r.rig.addin.GetData(kMcb, kDet, nullptr, nullptr, 0, 0, 2500, 0, data.words()), 1);
    EXPECT_TRUE(data.Untouched());
    // NT: set address and one read; Windows 95: 10000 bytes in chunks of 1024.
    EXPECT_EQ(r.rig.os.driverRequests, nt ? 2u : 10u);
    EXPECT_TRUE(r.unit->received().empty());
    EXPECT_EQ(r.rig.os.mutexDepth(), 0);
}

TEST_P(FaultTransfer, ADeadDriverWritesNoChannelAndTheResultSaysDone) {
    const bool nt = GetParam();
    ExchangeRig r(nt);
    ASSERT_NO_FATAL_FAILURE(Warm(r));
    r.rig.chain->sync();
    *r.unit->state().word(kDet, 7) = 0xAB000001;
    *r.unit->state().word(kDet, 8) = 0xCD000002;
    r.driver().failAll = true;
    GuardedBuffer values(8);
    values.words()[0] = 5;
    values.words()[1] = 6;
    EXPECT_EQ(r.rig.addin.SetData(kMcb, kDet, 0, 7, 2, 0, values.words()), 1);
    EXPECT_TRUE(values.Intact());
    EXPECT_EQ(*r.unit->state().word(kDet, 7), 0xAB000001u);
    EXPECT_EQ(*r.unit->state().word(kDet, 8), 0xCD000002u);
    // Per channel a read and a write of 4 bytes.
    EXPECT_EQ(r.rig.os.driverRequests, nt ? 8u : 4u);
    // The driver back, the same call writes both.
    r.driver().failAll = false;
    EXPECT_EQ(r.rig.addin.SetData(kMcb, kDet, 0, 7, 2, 0, values.words()), 1);
    EXPECT_EQ(*r.unit->state().word(kDet, 7), 0xAB000005u);
    EXPECT_EQ(*r.unit->state().word(kDet, 8), 0xCD000006u);
    EXPECT_EQ(r.rig.os.mutexDepth(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, FaultTransfer, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Nt" : "Win95"; });

TEST(FaultTransferWin95, ALostChunkLeavesJustItsPartOfTheBufferAsItWas) {
    ExchangeRig r(false);
    GuardedBuffer warm(4 * 2500);
    ASSERT_EQ(r.rig.addin.GetData(kMcb, kDet, nullptr, nullptr, 0, 0, 2500, 0, warm.words()), 1);
    r.rig.os.driverRequests = 0;
    r.driver().failNext(1, 4);  // the fifth chunk: bytes 4096 to 5119, channels 1024 to 1279
    GuardedBuffer data(4 * 2500);
    EXPECT_EQ(r.rig.addin.GetData(kMcb, kDet, nullptr, nullptr, 0, 0, 2500, 0, data.words()), 1);
    EXPECT_TRUE(data.Intact());
    EXPECT_EQ(r.rig.os.driverRequests, 10u);
    for (std::uint32_t i = 0; i < 2500; ++i) {
        const bool lost = i >= 1024 && i < 1280;
        const std::uint32_t expected = lost ? 0xCCCCCCCCu : *r.unit->state().word(kDet, i);
        ASSERT_EQ(data.Word(i), expected) << "channel " << i;
    }
}

}  // namespace

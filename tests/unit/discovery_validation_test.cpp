// Which detectors are valid, the on-demand re-probe of absent MCBs on the
// fake clock, the raw command channel and forgetting a selection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "discovery/probe.h"
#include "host/guess.h"
#include "support/rig.h"

namespace {

using Texts = std::vector<std::string>;

sim::UnitConfig Segment(int nDetectors) {
    return fake::SegmentUnit(nDetectors, 1024, {0, 0x00002000, 0x20000000, 0}, 2);
}

class Validation : public ::testing::Test {
protected:
    fake::Rig rig;

    void TearDown() override {
        EXPECT_EQ(rig.os.mutexDepth(), 0);
        EXPECT_FALSE(Process().bProbing);
    }
    void Connect() {
        rig.ConnectNt();
        rig.OpenDriverOnly();
    }
    void Run(int nMcb) {
        TMutexAccess access(rig.addin.mutex);
        ProbeMcb(nMcb);
    }
};

TEST_F(Validation, OutOfRangeAndNeverProbedNumbersAreInvalidWithoutAnExchange) {
    rig.chain->addUnit(9, Segment(2));
    Connect();
    const std::uint64_t requests = rig.os.driverRequests;
    EXPECT_FALSE(rig.addin.IsValidDetector(9, 1));  // zero-filled record: never probed
    EXPECT_FALSE(rig.addin.IsValidDetector(8, 1));
    EXPECT_FALSE(rig.addin.IsValidDetector(17, 1));
    EXPECT_FALSE(rig.addin.IsValidDetector(9, 0));
    EXPECT_FALSE(rig.addin.IsValidDetector(9, 17));
    EXPECT_EQ(rig.os.driverRequests, requests);
    EXPECT_TRUE(rig.Unit(9).received().empty());
    EXPECT_EQ(rig.Record(9).nMailboxType, 0);
}

TEST_F(Validation, APresentMcbAnswersFromItsCountAndIsNeverReprobed) {
    rig.chain->addUnit(9, Segment(2));
    Connect();
    Run(9);
    const std::uint32_t probed = rig.Record(9).dwProbeTick;
    rig.Unit(9).clearLogs();
    rig.os.Advance(5000);
    const std::uint64_t requests = rig.os.driverRequests;
    EXPECT_TRUE(rig.addin.IsValidDetector(9, 1));
    EXPECT_TRUE(rig.addin.IsValidDetector(9, 2));
    for (int d = 3; d <= 16; ++d) EXPECT_FALSE(rig.addin.IsValidDetector(9, d)) << d;
    EXPECT_EQ(rig.os.driverRequests, requests);
    EXPECT_EQ(rig.Record(9).dwProbeTick, probed);
}

TEST_F(Validation, AnAbsentMcbIsReprobedOnlyWhenItsLastProbeIsOverTwoSecondsOld) {
    Connect();
    Run(12);  // nothing there yet
    McbRecord& r = rig.Record(12);
    ASSERT_EQ(r.nMailboxType, -1);
    rig.chain->addUnit(12, Segment(2));  // plugged in since

    r.dwProbeTick = rig.os.Now() - 1500;
    EXPECT_FALSE(rig.addin.IsValidDetector(12, 1));
    r.dwProbeTick = rig.os.Now() - 2000;
    EXPECT_FALSE(rig.addin.IsValidDetector(12, 1));
    EXPECT_TRUE(rig.Unit(12).received().empty());
    EXPECT_EQ(r.nMailboxType, -1);

    // One millisecond more: one probe, and the answer from the new record.
    r.dwProbeTick = rig.os.Now() - 2001;
    const std::uint32_t before = rig.os.Now();
    EXPECT_FALSE(rig.addin.IsValidDetector(12, 3));
    EXPECT_EQ(r.nMailboxType, 5);
    EXPECT_EQ(r.nDetectors, 2);
    EXPECT_GE(r.dwProbeTick, before);
    EXPECT_EQ(rig.Unit(12).timesReceived("SHOW_VERS"), 1);
    EXPECT_TRUE(rig.addin.IsValidDetector(12, 2));
    EXPECT_EQ(rig.Unit(12).timesReceived("SHOW_VERS"), 1);
}

TEST_F(Validation, TheReprobeIntervalHoldsAcrossATickCounterWrap) {
    Connect();
    rig.os.tickBase = 0xFFFFFFFFu - 500;
    Run(10);
    McbRecord& r = rig.Record(10);
    ASSERT_EQ(r.nMailboxType, -1);
    const std::uint32_t probed = r.dwProbeTick;
    ASSERT_GT(probed, 0xFFFFF000u);
    rig.chain->addUnit(10, Segment(1));

    rig.os.Advance(100);  // probe tick + 2000 has wrapped, the counter not yet
    ASSERT_GT(rig.os.Now(), probed);
    EXPECT_FALSE(rig.addin.IsValidDetector(10, 1));
    rig.os.Advance(1400);  // the counter has wrapped: 1500 ms since the probe
    ASSERT_LT(rig.os.Now(), probed);
    EXPECT_FALSE(rig.addin.IsValidDetector(10, 1));
    EXPECT_EQ(r.dwProbeTick, probed);
    EXPECT_TRUE(rig.Unit(10).received().empty());

    rig.os.Advance(1000);
    EXPECT_TRUE(rig.addin.IsValidDetector(10, 1));
    EXPECT_NE(r.dwProbeTick, probed);
}

TEST_F(Validation, AFailedMcbIsInvalidUntilAReprobeFindsItWell) {
    rig.chain->addUnit(11, Segment(1));
    Connect();
    McbRecord& r = rig.Record(11);
    // As a probe whose identification failed leaves it.
    r.nMailboxType = -1;
    r.nDetectors = 1;
    r.bResponding = 0;
    r.dwProbeTick = rig.os.Now();
    EXPECT_FALSE(rig.addin.IsValidDetector(11, 1));
    EXPECT_TRUE(rig.Unit(11).received().empty());
    rig.os.Advance(2500);
    EXPECT_TRUE(rig.addin.IsValidDetector(11, 1));
    EXPECT_EQ(r.bResponding, 1);
}

// A host default that asks about other MCBs while a probe runs.
struct NestedCalls {
    fake::Rig* rig = nullptr;
    std::vector<bool> absentAnswers;
    std::vector<bool> presentAnswers;
};
NestedCalls g_nested;

std::int32_t AskingFeatures(const char* szVersion, std::int32_t nDet, std::uint32_t* pdwWords, std::int32_t nWords) {
    g_nested.absentAnswers.push_back(g_nested.rig->addin.IsValidDetector(11, 1));
    g_nested.presentAnswers.push_back(g_nested.rig->addin.IsValidDetector(12, 1));
    return DefaultGuessFeatures(szVersion, nDet, pdwWords, nWords);
}

TEST_F(Validation, ANestedValidationDuringAProbeStartsNoSecondProbe) {
    rig.chain->addUnit(12, Segment(1));
    Connect();
    rig.addin.InitDetectors();  // 10 and 11 absent, 12 present
    ASSERT_EQ(rig.Record(10).nMailboxType, -1);
    ASSERT_EQ(rig.Record(11).nMailboxType, -1);
    const std::uint32_t probed11 = rig.Record(11).dwProbeTick;
    rig.chain->addUnit(10, Segment(1));
    rig.chain->addUnit(11, Segment(1));
    rig.os.Advance(2500);

    g_nested = NestedCalls{};
    g_nested.rig = &rig;
    rig.os.hostFunctions["LocalGuessFeatures"] = reinterpret_cast<void*>(&AskingFeatures);
    EXPECT_TRUE(rig.addin.IsValidDetector(10, 1));
    // MCB 11 is due for a probe, but not from inside MCB 10's; MCB 12 is
    // answered as always.
    EXPECT_EQ(g_nested.absentAnswers, (std::vector<bool>{false}));
    EXPECT_EQ(g_nested.presentAnswers, (std::vector<bool>{true}));
    EXPECT_EQ(rig.Record(11).dwProbeTick, probed11);
    EXPECT_TRUE(rig.Unit(11).received().empty());

    // Outside the probe, MCB 11 is probed on demand as usual.
    rig.os.hostFunctions.clear();
    EXPECT_TRUE(rig.addin.IsValidDetector(11, 1));
    EXPECT_EQ(rig.Unit(11).timesReceived("SHOW_VERS"), 1);
}

TEST_F(Validation, SendCommandRunsTheHostsCommandOnTheSelectedInput) {
    sim::Unit* unit = rig.chain->addUnit(9, Segment(2));
    Connect();
    Run(9);
    unit->clearLogs();

    char szResp[64];
    std::int32_t nLen = -5, nErr = -5, nStatus2 = -5;
    EXPECT_TRUE(rig.addin.SendCommand(9, 1, "SHOW_VERS", sizeof szResp, szResp, &nLen, &nErr, &nStatus2));
    EXPECT_STREQ(szResp, "$F0919-005");
    EXPECT_EQ(nLen, 10);
    EXPECT_EQ(nErr, 0);
    EXPECT_EQ(nStatus2, 0);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_SEGM 1", "SHOW_VERS"}));

    // Refused: the exchange completed, the unit's fields come back.
    unit->faults.refuse("SHOW_VERS", 5, 12);
    EXPECT_TRUE(rig.addin.SendCommand(9, 1, "SHOW_VERS", sizeof szResp, szResp, &nLen, &nErr, &nStatus2));
    EXPECT_EQ(nErr, 5);
    EXPECT_EQ(nStatus2, 12);
    EXPECT_EQ(nLen, 0);
    EXPECT_STREQ(szResp, "");
    EXPECT_TRUE(rig.addin.SendCommand(9, 2, "NO_SUCH_THING", sizeof szResp, szResp, &nLen, &nErr, &nStatus2));
    EXPECT_EQ(nErr, 1);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_SEGM 1", "SHOW_VERS", "SHOW_VERS", "SET_SEGM 2", "NO_SUCH_THING"}));

    // Invalid detector: outputs cleared, nothing sent.
    std::strcpy(szResp, "junk");
    nLen = nErr = nStatus2 = 77;
    EXPECT_FALSE(rig.addin.SendCommand(9, 0, "SHOW_VERS", sizeof szResp, szResp, &nLen, &nErr, &nStatus2));
    EXPECT_EQ(nErr, -1);
    EXPECT_EQ(nStatus2, 0);
    EXPECT_EQ(nLen, 0);
    EXPECT_STREQ(szResp, "");
    std::strcpy(szResp, "junk");
    EXPECT_FALSE(rig.addin.SendCommand(9, 3, "SHOW_VERS", 0, szResp, nullptr, nullptr, nullptr));
    EXPECT_STREQ(szResp, "junk");  // size 0: the buffer is not touched
    EXPECT_EQ(unit->received().size(), 5u);

    // A size with no buffer: refused with a trace line, nothing sent.
    rig.os.ClearTrace();
    nErr = 77;
    EXPECT_FALSE(rig.addin.SendCommand(9, 1, "SHOW_VERS", 16, nullptr, &nLen, &nErr, &nStatus2));
    EXPECT_EQ(nErr, -1);
    EXPECT_EQ(nLen, 0);
    EXPECT_EQ(rig.os.TraceText(), "Kestrel::SendCommand(): no buffer for a response of 16 bytes!\r\n");
    EXPECT_EQ(unit->received().size(), 5u);

    // The selection refused: cleared outputs as well.
    unit->faults.refuse("SET_SEGM", 2);
    nErr = 77;
    EXPECT_FALSE(rig.addin.SendCommand(9, 1, "SHOW_VERS", sizeof szResp, szResp, &nLen, &nErr, &nStatus2));
    EXPECT_EQ(nErr, -1);
    EXPECT_EQ(unit->timesReceived("SET_SEGM 1"), 2);
    EXPECT_EQ(unit->timesReceived("SHOW_VERS"), 2);
}

TEST_F(Validation, InvalidateMcbMakesTheNextOperationSelectAgain) {
    sim::Unit* unit = rig.chain->addUnit(10, Segment(2));
    Connect();
    Run(10);
    unit->clearLogs();

    const int acquisitions = rig.os.mutexAcquisitions;
    rig.addin.InvalidateMcb(17);
    rig.addin.InvalidateMcb(8);
    EXPECT_EQ(rig.os.mutexAcquisitions, acquisitions);  // range check before the mutex

    EXPECT_EQ(rig.addin.SetROI(10, 1, 1, 2, 1, nullptr, nullptr), 1);
    EXPECT_EQ(rig.addin.SetROI(10, 1, 1, 2, 1, nullptr, nullptr), 1);
    EXPECT_EQ(unit->timesReceived("SET_SEGM 1"), 1);
    EXPECT_EQ(unit->timesReceived("SET_VIEW 1"), 1);

    const int beforeInvalidate = rig.os.mutexAcquisitions;
    rig.addin.InvalidateMcb(10);
    EXPECT_EQ(rig.os.mutexAcquisitions, beforeInvalidate + 1);
    EXPECT_EQ(rig.Record(10).nCurDevSeg, -1);
    EXPECT_EQ(rig.Record(10).nCurView, -1);
    EXPECT_TRUE(rig.addin.IsValidDetector(10, 1));
    EXPECT_EQ(rig.addin.SetROI(10, 1, 1, 2, 1, nullptr, nullptr), 1);
    EXPECT_EQ(unit->timesReceived("SET_SEGM 1"), 2);
    EXPECT_EQ(unit->timesReceived("SET_VIEW 1"), 2);
}

}  // namespace

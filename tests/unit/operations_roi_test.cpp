// Setting and clearing regions of interest: the commands sent, the result
// codes and status outputs of every outcome, and the selection reset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/process_state.h"
#include "support/rig.h"

namespace {

using Texts = std::vector<std::string>;

class Roi : public ::testing::Test {
protected:
    fake::Rig rig;
    sim::Unit* unit = nullptr;
    std::int32_t nErr = 77;
    std::int32_t nStatus2 = 77;

    void SetUp() override {
        // MCB 9: two segments with views, alike; MCB 12: four devices without views.
        unit = rig.chain->addUnit(9, fake::SegmentUnit(2, 4096, {0, 0, 0x20000000, 0}, 2));
        rig.chain->addUnit(12, fake::DeviceUnit(1024));
        rig.ConnectNt();
        rig.OpenDriverOnly();
        rig.addin.InitDetectors();
        unit->clearLogs();
        rig.os.ClearTrace();
    }
    void TearDown() override { EXPECT_EQ(rig.os.mutexDepth(), 0); }
    void Reset() {
        nErr = nStatus2 = 77;
        unit->clearLogs();
        rig.os.ClearTrace();
    }
};

TEST_F(Roi, SetRoiSendsItsCommandAfterTheSelectionsAndMapsTheAnswer) {
    EXPECT_EQ(rig.addin.SetROI(9, 1, 100, 50, 1, &nErr, &nStatus2), 1);
    EXPECT_EQ(nErr, 0);
    EXPECT_EQ(nStatus2, 0);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_VIEW 1", "SET_ROI 100, 50"}));

    Reset();
    EXPECT_EQ(rig.addin.SetROI(9, 2, 0, 4096, 0, &nErr, &nStatus2), 1);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_SEGM 2", "SET_VIEW 0", "SET_ROI 0, 4096"}));

    Reset();
    unit->faults.refuse("SET_ROI", 5, 12);
    EXPECT_EQ(rig.addin.SetROI(9, 2, 1, 2, 0, &nErr, &nStatus2), -6);
    EXPECT_EQ(nErr, 5);
    EXPECT_EQ(nStatus2, 12);
    unit->faults.refusals.clear();

    // Both numbers in full.
    Reset();
    rig.addin.SetROI(9, 2, 4294967295u, 4294967295u, 0, nullptr, nullptr);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_ROI 4294967295, 4294967295"}));

    // Null status pointers: the work is done, nothing is stored.
    EXPECT_EQ(rig.addin.SetROI(9, 2, 7, 8, 0, nullptr, nullptr), 1);
}

TEST_F(Roi, SetRoiFailuresGiveTheirCodesAndLeaveTheStatusAtZero) {
    // Invalid detector: nothing is sent.
    EXPECT_EQ(rig.addin.SetROI(9, 3, 1, 2, 0, &nErr, &nStatus2), -1);
    EXPECT_EQ(nErr, 0);
    EXPECT_EQ(nStatus2, 0);
    EXPECT_EQ(rig.addin.SetROI(13, 1, 1, 2, 0, &nErr, &nStatus2), -1);
    EXPECT_TRUE(unit->received().empty());

    // A view the detector does not have.
    Reset();
    EXPECT_EQ(rig.addin.SetROI(12, 1, 1, 2, 1, &nErr, &nStatus2), -1);
    EXPECT_EQ(nErr, 0);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::SetROI(): Could not select View!\r\n"), 1);
    EXPECT_EQ(rig.Unit(12).timesReceived("SET_ROI 1, 2"), 0);

    // The segment selection refused.
    Reset();
    unit->faults.refuse("SET_SEGM", 2);
    EXPECT_EQ(rig.addin.SetROI(9, 2, 1, 2, 0, &nErr, &nStatus2), -1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::SetROI(): Could not select DevSeg!\r\n"), 1);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_SEGM 2"}));
    unit->faults.refusals.clear();

    // Time-out: -2 after the mailbox wait, status outputs still 0.
    ASSERT_EQ(rig.addin.SetROI(9, 1, 1, 2, 0, nullptr, nullptr), 1);  // selections now cached
    Reset();
    unit->faults.postDelayMs.reset();
    const std::uint32_t start = rig.os.Now();
    EXPECT_EQ(rig.addin.SetROI(9, 1, 1, 2, 0, &nErr, &nStatus2), -2);
    EXPECT_GT(rig.os.Now() - start, 10000u);
    EXPECT_EQ(nErr, 0);
    EXPECT_EQ(nStatus2, 0);
    EXPECT_EQ(rig.Received(9).front(), "SET_ROI 1, 2");
    unit->faults.postDelayMs = 0;

    // Retries used up: -3. (The view is selected again first: the wait
    // outlasted the time the add-in trusts its view cache.)
    ASSERT_EQ(rig.addin.SetROI(9, 1, 1, 2, 0, nullptr, nullptr), 1);
    Reset();
    unit->faults.floodNext = 3;
    EXPECT_EQ(rig.addin.SetROI(9, 1, 1, 2, 0, &nErr, &nStatus2), -3);
    EXPECT_EQ(nErr, 0);
    EXPECT_EQ(unit->timesReceived("SET_ROI 1, 2"), 3);
}

TEST_F(Roi, ClearRoiSendsTheWindowThenTheClearAndForgetsTheSelection) {
    EXPECT_EQ(rig.addin.ClearROI(9, 2, 0, 10, 1, &nErr, &nStatus2), 1);
    EXPECT_EQ(nErr, 0);
    EXPECT_EQ(nStatus2, 0);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_SEGM 2", "SET_VIEW 1", "SET_WIND 0, 10", "CLEAR_ROI"}));
    EXPECT_EQ(rig.Record(9).nCurDevSeg, -1);
    // The same detector and view again: the segment is selected anew, the
    // view is still trusted.
    Reset();
    EXPECT_EQ(rig.addin.SetROI(9, 2, 3, 4, 1, nullptr, nullptr), 1);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_SEGM 2", "SET_ROI 3, 4"}));

    Reset();
    rig.addin.ClearROI(9, 2, 4294967295u, 4294967295u, 1, nullptr, nullptr);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_WIND 4294967295, 4294967295"}));  // refused by the unit

    Reset();
    unit->faults.refuse("SET_WIND", 5, 12);
    EXPECT_EQ(rig.addin.ClearROI(9, 2, 0, 10, 1, &nErr, &nStatus2), -6);
    EXPECT_EQ(nErr, 5);
    EXPECT_EQ(nStatus2, 12);
    EXPECT_EQ(unit->timesReceived("CLEAR_ROI"), 0);
    EXPECT_EQ(rig.Record(9).nCurDevSeg, -1);
    unit->faults.refusals.clear();

    Reset();
    unit->faults.refuse("CLEAR_ROI", 7, 3);
    EXPECT_EQ(rig.addin.ClearROI(9, 2, 0, 10, 1, &nErr, &nStatus2), -6);
    EXPECT_EQ(nErr, 7);
    EXPECT_EQ(nStatus2, 3);
    EXPECT_EQ(rig.Record(9).nCurDevSeg, -1);
    unit->faults.refusals.clear();

    EXPECT_EQ(rig.addin.ClearROI(9, 2, 0, 10, 1, nullptr, nullptr), 1);
}

TEST_F(Roi, ClearRoiFailuresAndTheirMessages) {
    // Early failures leave the selection alone.
    ASSERT_EQ(rig.addin.SetROI(9, 2, 1, 2, 1, nullptr, nullptr), 1);
    ASSERT_EQ(rig.Record(9).nCurDevSeg, 2);
    Reset();
    EXPECT_EQ(rig.addin.ClearROI(9, 3, 0, 10, 1, &nErr, &nStatus2), -1);
    EXPECT_EQ(nErr, 0);
    EXPECT_EQ(nStatus2, 0);
    EXPECT_EQ(rig.addin.ClearROI(9, 2, 0, 10, 5, &nErr, &nStatus2), -1);  // no view 5
    EXPECT_EQ(rig.Record(9).nCurDevSeg, 2);
    EXPECT_EQ(unit->timesReceived("SET_WIND 0, 10"), 0);
    unit->faults.refuse("SET_SEGM", 2);
    EXPECT_EQ(rig.addin.ClearROI(9, 1, 0, 10, 1, &nErr, &nStatus2), -1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::ClearROI(): Could not select DevSeg!\r\n"), 1);
    unit->faults.refusals.clear();

    // The window command times out: its LocalErr comes back and is named.
    ASSERT_EQ(rig.addin.SetROI(9, 2, 1, 2, 1, nullptr, nullptr), 1);
    Reset();
    unit->faults.postDelayMs.reset();
    EXPECT_EQ(rig.addin.ClearROI(9, 2, 0, 10, 1, &nErr, &nStatus2), -2);
    EXPECT_EQ(nErr, -2);
    EXPECT_EQ(nStatus2, 0);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::ClearROI(): mcb_dialog(9, \"SET_WIND 0, 10\") failed! LocalErr=-2\r\n"), 1);
    EXPECT_EQ(unit->timesReceived("CLEAR_ROI"), 0);
    EXPECT_EQ(rig.Record(9).nCurDevSeg, -1);
}

}  // namespace

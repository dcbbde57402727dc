// Device, segment and view selection with their shared caches.
#include <gtest/gtest.h>

#include "protocol/selection.h"
#include "support/rig.h"

namespace {

class Selection : public ::testing::Test {
protected:
    fake::Rig rig;
    sim::Unit* unit = nullptr;
    McbRecord* record = nullptr;

    void SetUp() override {
        sim::UnitConfig config;
        config.detectors = 4;
        config.detector.resize(4);
        config.detector[1].views = 3;
        unit = rig.chain->addUnit(9, config);
        rig.ConnectNt();
        rig.OpenDriverOnly();
        record = &rig.Record(9);
        record->nMailboxType = 5;
        record->bResponding = 1;
        record->nCurDevSeg = -1;
        record->nCurView = -1;
    }
    std::size_t Commands() { return unit->received().size(); }
};

TEST_F(Selection, ACachedSegmentSendsNothingButSelectsTheSpace) {
    record->nCurDevSeg = 2;
    EXPECT_EQ(SetDevSeg(9, 2, 1), 1);
    EXPECT_EQ(Commands(), 0u);
    EXPECT_EQ(Process().nSelectedMcb, 9);
    EXPECT_EQ(Process().bMailboxSpace, 1);
}

TEST_F(Selection, SegmentOrDeviceCommandByMcbKind) {
    EXPECT_EQ(SetDevSeg(9, 2, 0), 1);
    EXPECT_EQ(rig.Received(9), (std::vector<std::string>{"SET_SEGM 2"}));
    EXPECT_EQ(record->nCurDevSeg, 2);
    EXPECT_EQ(Process().bMailboxSpace, 0);  // left on the data space for a transfer
    sim::UnitConfig devices;
    devices.version = "8474-001";
    rig.chain->addUnit(12, devices);
    McbRecord& other = rig.Record(12);
    other.nMailboxType = 5;
    other.bResponding = 1;
    other.bDevices = 1;
    other.nCurDevSeg = -1;
    EXPECT_EQ(SetDevSeg(12, 3, 1), 1);
    EXPECT_EQ(rig.Received(12), (std::vector<std::string>{"SET_DEVI 3"}));
    EXPECT_EQ(other.nCurDevSeg, 3);
}

TEST_F(Selection, ARefusalLeavesTheCacheAndIsTraced) {
    record->nCurDevSeg = 1;
    unit->faults.refuse("SET_SEGM", 1);
    EXPECT_EQ(SetDevSeg(9, 2, 1), 0);
    EXPECT_EQ(record->nCurDevSeg, 1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::SetDevSeg(): \"SET_SEGM 2\" failed for MCB 9\r\n"), 1);
}

TEST_F(Selection, ASilentMcbOffersOnlyItsFirstInputWithoutACommand) {
    record->bResponding = 0;
    EXPECT_EQ(SetDevSeg(9, 3, 1), 0);
    EXPECT_EQ(record->nCurDevSeg, -1);
    EXPECT_EQ(SetDevSeg(9, 1, 1), 1);
    EXPECT_EQ(record->nCurDevSeg, 1);
    EXPECT_EQ(Commands(), 0u);
    EXPECT_TRUE(rig.os.trace.empty());
}

TEST_F(Selection, AViewIsTrustedForFourSecondsThenConfirmed) {
    record->dwFeatures[1][2] = FEAT2_VIEWS;
    record->nCurDevSeg = 2;
    unit->state().selected = 2;
    EXPECT_EQ(SetView(9, 2, 1), 1);
    EXPECT_EQ(rig.Received(9), (std::vector<std::string>{"SET_VIEW 1"}));
    rig.os.Advance(3000);
    EXPECT_EQ(SetView(9, 2, 1), 1);
    EXPECT_EQ(Commands(), 1u);
    rig.os.Advance(999);  // 3999 ms: a hit does not renew the stamp
    EXPECT_EQ(SetView(9, 2, 1), 1);
    EXPECT_EQ(Commands(), 1u);
    rig.os.Advance(1);  // exactly 4000 ms: no longer trusted
    EXPECT_EQ(SetView(9, 2, 1), 1);
    EXPECT_EQ(Commands(), 2u);
    EXPECT_EQ(SetView(9, 2, 2), 1);
    EXPECT_EQ(rig.Received(9).back(), "SET_VIEW 2");
}

TEST_F(Selection, ARefusedViewIsTracedAndNotCached) {
    record->dwFeatures[1][2] = FEAT2_VIEWS;
    record->nCurDevSeg = 2;
    unit->state().selected = 2;
    EXPECT_EQ(SetView(9, 2, 7), 0);  // the unit has three views
    EXPECT_EQ(record->nCurView, -1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::SetView(): \"SET_VIEW 7\" failed for MCB 9\r\n"), 1);
}

TEST_F(Selection, WithoutViewsOnlyViewZeroAndNoCommand) {
    EXPECT_EQ(SetView(9, 1, 0), 1);
    EXPECT_EQ(record->nCurView, 0);
    EXPECT_EQ(SetView(9, 1, 1), 0);
    EXPECT_EQ(Commands(), 0u);
    EXPECT_TRUE(rig.os.trace.empty());
}

TEST_F(Selection, ANotRespondingMailboxSendsNothing) {
    record->nMailboxType = -1;
    rig.os.driverRequests = 0;
    EXPECT_EQ(SetDevSeg(9, 2, 1), 0);
    EXPECT_EQ(rig.os.driverRequests, 0u);
    EXPECT_EQ(record->nCurDevSeg, -1);
}

}  // namespace

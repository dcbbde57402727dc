// Telling present MCBs and their byte spacing from absent hardware.
#include <gtest/gtest.h>

#include "port/device_memory.h"
#include "support/rig.h"

namespace {

class MailboxType : public ::testing::Test {
protected:
    fake::Rig rig;
    void Add(int nMcb, int type) {
        sim::UnitConfig config;
        config.mailboxType = type;
        rig.chain->addUnit(nMcb, config);
    }
    void Open(bool nt) {
        if (nt)
            rig.ConnectNt();
        else
            rig.ConnectWin95();
        rig.OpenDriverOnly();
    }
};

TEST_F(MailboxType, PresentUnitsAreFoundWithTheirSpacingInBothProtocols) {
    for (bool nt : {true, false}) {
        Add(9, 5);
        Add(12, 4);
        Add(16, 5);
        Open(nt);
        EXPECT_EQ(DetectMailboxType(9), 5) << nt;
        EXPECT_EQ(DetectMailboxType(12), 4) << nt;
        EXPECT_EQ(DetectMailboxType(16), 5) << nt;  // its neighbour is MCB 9
        EXPECT_EQ(DetectMailboxType(10), -1) << nt;
    }
}

TEST_F(MailboxType, AbsentHardwareFailsThePatternTestEveryWay) {
    for (auto absent : {sim::AbsentBehaviour::FloatingBus, sim::AbsentBehaviour::EchoPort,
                        sim::AbsentBehaviour::SharedMemory}) {
        rig.chain->absentBehaviour = absent;
        Open(true);
        EXPECT_EQ(DetectMailboxType(11), -1) << static_cast<int>(absent);
        EXPECT_EQ(DetectMailboxType(16), -1) << static_cast<int>(absent);
    }
}

TEST_F(MailboxType, ATypeFiveUnitPassingTheTypeFourTestIsStillTypeFive) {
    // Plain byte memory passes the 4k+3 pattern too; only its separate data
    // space tells it from a type-4 unit.
    Add(10, 5);
    Open(true);
    EXPECT_EQ(DetectMailboxType(10), 5);
    EXPECT_EQ(Process().nSelectedMcb, 10);
}

TEST_F(MailboxType, AFailedTestPutsTheScratchBytesBack) {
    rig.chain->absentBehaviour = sim::AbsentBehaviour::SharedMemory;
    Open(true);
    SelectUnit(13, 1);
    WriteMailboxByte(5, 1, 0x11);
    WriteMailboxByte(5, 2, 0x22);
    EXPECT_EQ(DetectMailboxType(13), -1);
    SelectUnit(13, 1);
    EXPECT_EQ(ReadMailboxByte(5, 1), 0x11);
    EXPECT_EQ(ReadMailboxByte(5, 2), 0x22);
}

}  // namespace

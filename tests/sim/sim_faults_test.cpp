// Misbehaving units: late or missing handshakes and broken messages.
#include <gtest/gtest.h>

#include "sim/demo.h"
#include "sim/status_record.h"
#include "sim_test_support.h"

namespace {

using simtest::FakeClock;
using simtest::MailboxClient;
using Messages = std::vector<std::string>;

class SimFaultsTest : public ::testing::Test {
protected:
    FakeClock clock;
    std::unique_ptr<sim::Chain> chain = sim::Chain::Default(clock.clock(), 1039009530);
    sim::EmulatedDriver driver{*chain};
    sim::Unit& unit = *chain->unit(9);
    sim::Faults& faults = unit.faults;
    MailboxClient mailbox{driver, clock, 9, 5};

    void postZeroLength() {
        mailbox.write(sim::kCommandLength, 0);
        mailbox.write(sim::kCommandLength + 1, 0);
        mailbox.write(sim::kOutFlag, 0xFF);
    }
};

TEST_F(SimFaultsTest, CommandTakenAfterTheDelayAndNotBefore) {
    faults.takeDelayMs = 3000;
    mailbox.post("SHOW_VERS");
    clock.ms += 2999;
    EXPECT_EQ(mailbox.read(sim::kOutFlag), 0xFF);
    clock.ms += 1;
    EXPECT_EQ(mailbox.read(sim::kOutFlag), 0);
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0xFF);
}

TEST_F(SimFaultsTest, UnitThatTakesNothingButZeroLengthCommands) {
    faults.takeDelayMs.reset();
    mailbox.post("SHOW_VERS");
    clock.ms += 60000;
    EXPECT_EQ(mailbox.read(sim::kOutFlag), 0xFF);
    postZeroLength();
    EXPECT_EQ(mailbox.read(sim::kOutFlag), 0) << "the recovery still works";
    const int taken = unit.zeroLengthReceived();
    EXPECT_GE(taken, 1);
    faults.takeZeroLength = false;
    postZeroLength();
    clock.ms += 60000;
    EXPECT_EQ(mailbox.read(sim::kOutFlag), 0xFF);
    EXPECT_EQ(unit.zeroLengthReceived(), taken);
}

TEST_F(SimFaultsTest, EachMessageWaitsForThePostDelay) {
    faults.postDelayMs = 5000;
    mailbox.post("SHOW_VERS");
    clock.ms += 4999;
    EXPECT_EQ(mailbox.read(sim::kOutFlag), 0) << "taken at once";
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0);
    clock.ms += 1;
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0xFF);
    mailbox.write(sim::kInFlag, 0);
    clock.ms += 4999;
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0) << "the record counts from the acknowledgement";
    clock.ms += 1;
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0xFF);

    faults.postDelayMs.reset();
    mailbox.write(sim::kInFlag, 0);
    mailbox.post("SHOW_VERS");
    clock.ms += 100000;
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0);
}

TEST_F(SimFaultsTest, ExtraLinesAndGarbageSurroundTheResponse) {
    faults.extraLines = 2;
    faults.garbageMessages = 1;
    Messages m = mailbox.exchange("SHOW_VERS");
    ASSERT_EQ(m.size(), 5u);
    EXPECT_NE(m[0][0], '$');
    EXPECT_EQ(m[1], "$F0919-005");
    EXPECT_EQ(m[2], "EXTRA LINE 1");
    EXPECT_EQ(m[3], "EXTRA LINE 2");
    EXPECT_EQ(m[4], "%000000069");
    EXPECT_EQ(mailbox.exchange("SET_SEGM 1").size(), 4u) << "on every exchange until changed";
}

TEST_F(SimFaultsTest, BrokenRecordsForTheNextExchanges) {
    faults.badChecksumNext = 2;
    Messages first = mailbox.exchange("SET_SEGM 1");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].substr(0, 7), "%000000");
    EXPECT_NE(first[0], "%000000069");
    EXPECT_NE(mailbox.exchange("SET_SEGM 1")[0], "%000000069");
    EXPECT_EQ(mailbox.exchange("SET_SEGM 1")[0], "%000000069");

    faults.wrongLengthNext = 1;
    faults.wrongLength = 9;
    EXPECT_EQ(mailbox.exchange("SET_SEGM 1")[0], "%00000006");
    faults.wrongLengthNext = 1;
    faults.wrongLength = 13;
    EXPECT_EQ(mailbox.exchange("SET_SEGM 1")[0], "%000000069   ");
}

TEST_F(SimFaultsTest, FloodOfMessagesWithoutARecord) {
    faults.floodNext = 1;
    Messages m = mailbox.exchange("SHOW_VERS", 1000);
    ASSERT_EQ(m.size(), 11u);
    for (const std::string& line : m) EXPECT_NE(line[0], '%');
    EXPECT_EQ(mailbox.exchange("SHOW_VERS").back(), "%000000069");
}

TEST_F(SimFaultsTest, TooLongResponse) {
    faults.tooLongNext = 1;
    Messages m = mailbox.exchange("SHOW_VERS");
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].size(), 600u);
    EXPECT_EQ(m[0].substr(0, 10), "$F0919-005");
    EXPECT_EQ(mailbox.exchange("SHOW_VERS")[0].size(), 10u);
}

TEST_F(SimFaultsTest, NamedCommandRefusedWithChosenFields) {
    faults.refuse("SET_ROI", 5, 12);
    EXPECT_EQ(mailbox.exchange("SET_ROI 100, 50"), Messages{sim::StatusRecord(5, 12)});
    EXPECT_FALSE(unit.state().detector(1).roi[100]) << "a refused command does nothing";
    EXPECT_EQ(mailbox.exchange("SET_WIND 100, 50"), Messages{"%000000069"});
    faults.refuse("SHOW_VERS", 7);
    EXPECT_EQ(mailbox.exchange("SHOW_VERS"), Messages{sim::StatusRecord(7, 0)});
    faults.refusals.clear();
    EXPECT_EQ(mailbox.exchange("SHOW_VERS").size(), 2u);
}

TEST_F(SimFaultsTest, RepostedCommandAfterAnAbandonedExchangeGetsItsOwnReply) {
    faults.floodNext = 1;
    mailbox.post("SHOW_VERS");
    std::string message;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(mailbox.next(&message, 10));
    mailbox.write(sim::kOutFlag, 0);
    mailbox.write(sim::kInFlag, 0);
    Messages m = mailbox.exchange("SHOW_VERS");
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m.back(), "%000000069");
    EXPECT_EQ(unit.timesReceived("SHOW_VERS"), 2);
}

}  // namespace

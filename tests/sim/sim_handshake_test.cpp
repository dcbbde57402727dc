// The unit's side of the mailbox handshake, watched through raw requests.
#include <gtest/gtest.h>

#include "sim/demo.h"
#include "sim_test_support.h"

namespace {

using simtest::FakeClock;
using simtest::MailboxClient;

class SimHandshakeTest : public ::testing::Test {
protected:
    FakeClock clock;
    std::unique_ptr<sim::Chain> chain = sim::Chain::Default(clock.clock(), 1039009530);
    sim::EmulatedDriver driver{*chain};
    sim::Unit& unit = *chain->unit(9);
    MailboxClient mailbox{driver, clock, 9, 5};
};

TEST_F(SimHandshakeTest, CommandIsTakenOnlyOnceMcbOutflgIsSet) {
    mailbox.write(sim::kCommandLength, 9);
    for (int i = 0; i < 9; ++i) mailbox.write(sim::kCommandText + i, static_cast<std::uint8_t>("SHOW_VERS"[i]));
    clock.ms += 50;
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0) << "nothing posted without MCB$OUTFLG";
    EXPECT_TRUE(unit.received().empty());
    mailbox.write(sim::kOutFlag, 0xFF);
    EXPECT_NE(mailbox.read(sim::kOutFlag), 0xFF) << "taken at the next access";
    ASSERT_EQ(unit.received().size(), 1u);
    EXPECT_EQ(unit.received()[0].text, "SHOW_VERS");
}

TEST_F(SimHandshakeTest, MessagesArePostedOneAtATimeAfterEachAcknowledgement) {
    mailbox.post("SHOW_VERS");
    ASSERT_EQ(mailbox.read(sim::kInFlag), 0xFF);
    EXPECT_EQ(mailbox.read(sim::kMessageLength), 10);
    EXPECT_EQ(mailbox.read(sim::kMessageLength + 1), 0);
    EXPECT_EQ(mailbox.read(sim::kMessageText), '$');
    clock.ms += 1000;
    EXPECT_EQ(mailbox.read(sim::kMessageText), '$') << "the record waits until MCB$INFLG is emptied";
    EXPECT_EQ(unit.posted().size(), 1u);
    mailbox.write(sim::kInFlag, 0);
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0xFF);
    EXPECT_EQ(mailbox.read(sim::kMessageText), '%');
    ASSERT_EQ(unit.posted().size(), 2u);
    EXPECT_EQ(unit.posted()[0], "$F0919-005");
    EXPECT_EQ(unit.posted()[1], "%000000069");
}

TEST_F(SimHandshakeTest, ZeroLengthCommandIsTakenSilently) {
    mailbox.write(sim::kCommandLength, 0);
    mailbox.write(sim::kCommandLength + 1, 0);
    mailbox.write(sim::kOutFlag, 0xFF);
    EXPECT_EQ(mailbox.read(sim::kOutFlag), 0);
    clock.ms += 500;
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0);
    EXPECT_EQ(unit.zeroLengthReceived(), 1);
    EXPECT_TRUE(unit.posted().empty());
}

TEST_F(SimHandshakeTest, ZeroLengthCommandAbandonsTheRestOfAnExchange) {
    mailbox.post("SHOW_VERS");
    ASSERT_EQ(mailbox.read(sim::kInFlag), 0xFF);
    mailbox.write(sim::kCommandLength, 0);
    mailbox.write(sim::kOutFlag, 0xFF);
    mailbox.write(sim::kInFlag, 0);
    clock.ms += 100;
    EXPECT_EQ(mailbox.read(sim::kInFlag), 0) << "the status record of SHOW_VERS never comes";
    EXPECT_EQ(unit.pendingMessages(), 0u);
}

TEST_F(SimHandshakeTest, ExchangesEndWithAGoodRecordAndAreCounted) {
    EXPECT_EQ(mailbox.exchange("SET_SEGM 2"), std::vector<std::string>{"%000000069"});
    EXPECT_EQ(mailbox.exchange("SET_SEGM 2"), std::vector<std::string>{"%000000069"});
    EXPECT_EQ(mailbox.exchange("NO_SUCH_THING"), std::vector<std::string>{"%001000070"});
    EXPECT_EQ(unit.timesReceived("SET_SEGM 2"), 2);
    EXPECT_EQ(unit.timesReceived("NO_SUCH_THING"), 1);
    EXPECT_EQ(unit.zeroLengthReceived(), 0);
}

TEST_F(SimHandshakeTest, CommandLongerThanTheTextAreaIsRefused) {
    mailbox.write(sim::kCommandLength, 0xE1);  // 481
    mailbox.write(sim::kCommandLength + 1, 0x01);
    mailbox.write(sim::kOutFlag, 0xFF);
    std::string message;
    ASSERT_TRUE(mailbox.next(&message, 10));
    EXPECT_EQ(message.substr(0, 4), "%002");
}

TEST_F(SimHandshakeTest, TypeFourMailboxUsesItsOwnSpacing) {
    MailboxClient type4(driver, clock, 12, 4);
    auto messages = type4.exchange("SHOW_VERS");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "$F8474-001");
    std::uint8_t flag = 0;
    simtest::NtRead(driver, simtest::UnitByte(12, true), 4 * sim::kInFlag + 3, &flag, 1);
    EXPECT_EQ(flag, 0) << "acknowledged at byte 1987";
}

}  // namespace

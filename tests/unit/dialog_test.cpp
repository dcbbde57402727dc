// One command exchange against a simulated unit, every outcome, with the
// driver requests each implies.
#include <gtest/gtest.h>

#include <cstring>

#include "protocol/dialog.h"
#include "support/rig.h"

namespace {

struct Result {
    std::int32_t result = -99, respLen = -99, localErr = -99, status2 = -99;
    char resp[64] = "untouched";
};

class Dialog : public ::testing::Test {
protected:
    fake::Rig rig;
    sim::Unit* unit = nullptr;

    void SetUp() override {
        sim::UnitConfig config;
        config.version = "1234-567";
        unit = rig.chain->addUnit(11, config);
        rig.ConnectNt();
        rig.OpenDriverOnly();
        rig.Record(11).nMailboxType = 5;
        Process().nDebugLevel = 3;
    }
    Result Run(const char* cmd, int respSize = 32) {
        Result r;
        rig.os.driverRequests = 0;
        r.result = mcb_dialog(11, cmd, static_cast<std::int32_t>(std::strlen(cmd)), respSize, r.resp, &r.respLen,
                              &r.localErr, &r.status2);
        return r;
    }
};

TEST_F(Dialog, AResponseAndAGoodRecord) {
    Result r = Run("SHOW_VERS");
    EXPECT_EQ(r.result, 1);
    EXPECT_STREQ(r.resp, "$F1234-567");
    EXPECT_EQ(r.respLen, 10);
    EXPECT_EQ(r.localErr, 0);
    EXPECT_EQ(r.status2, 0);
    // flush 3, post 12, response 1+2+1+10+1, record 1+2+10+1 mailbox bytes,
    // two NT requests each.
    EXPECT_EQ(rig.os.driverRequests, 2u * 44);
    EXPECT_EQ(unit->timesReceived("SHOW_VERS"), 1);
    EXPECT_EQ(unit->mailboxByte(sim::kInFlag), 0);  // every message acknowledged
}

TEST_F(Dialog, TheResponseIsCutToTheBuffer) {
    Result r = Run("SHOW_VERS", 5);
    EXPECT_EQ(r.result, 1);
    EXPECT_STREQ(r.resp, "$F12");
    EXPECT_EQ(r.respLen, 4);
    EXPECT_EQ(rig.os.driverRequests, 2u * (44 - 6));  // the cut characters are never read
}

TEST_F(Dialog, WithoutAResponseBufferTextIsSkipped) {
    unit->faults.extraLines = 2;
    Result r = Run("SHOW_VERS", 0);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.localErr, 0);
    EXPECT_STREQ(r.resp, "untouched");
    EXPECT_EQ(r.respLen, -99);
}

TEST_F(Dialog, AGoodRecordInPlaceOfTheResponse) {
    Result r = Run("SET_SEGM 1");
    EXPECT_EQ(r.result, 1);
    EXPECT_STREQ(r.resp, "");
    EXPECT_EQ(r.respLen, 0);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::mcb_dialog() found good % instead of resp!\r\n"), 1);
}

TEST_F(Dialog, ABadRecordThenAGoodOneInOneAttempt) {
    unit->faults.badThenGoodNext = 1;
    Result r = Run("SHOW_VERS");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.localErr, 0);
    EXPECT_STREQ(r.resp, "$F1234-567");
    EXPECT_EQ(rig.os.CountTrace("mcb_dialog() found bad %.\r\n"), 1);
    EXPECT_EQ(unit->timesReceived("SHOW_VERS"), 1);
}

TEST_F(Dialog, ABadRecordInPlaceOfTheResponseIsRetried) {
    unit->faults.badChecksumNext = 1;
    Result r = Run("SET_SEGM 1");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(rig.os.CountTrace("mcb_dialog() found bad % instead of resp.\r\n"), 1);
    EXPECT_EQ(unit->timesReceived("SET_SEGM 1"), 2);
}

TEST_F(Dialog, TenSkippedMessagesThreeTimesOverExhaustTheRetries) {
    unit->faults.floodNext = 3;
    Result r = Run("SHOW_VERS", 0);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.localErr, -3);
    EXPECT_EQ(r.status2, 0);
    EXPECT_EQ(unit->timesReceived("SHOW_VERS"), 3);
    EXPECT_EQ(unit->mailboxByte(sim::kOutFlag), 0);
    EXPECT_EQ(rig.os.CountTrace("mcb_dialog() Failure after 2 retries!\r\n"), 1);
    // Once the unit behaves, the next exchange works.
    EXPECT_EQ(Run("SHOW_VERS").result, 1);
}

TEST_F(Dialog, BadRecordsInPlaceOfTheResponseExhaustTheRetries) {
    unit->faults.badChecksumNext = 3;
    Result r = Run("SET_SEGM 1");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.localErr, -3);
    EXPECT_STREQ(r.resp, "");
    EXPECT_EQ(unit->timesReceived("SET_SEGM 1"), 3);
    EXPECT_EQ(rig.os.CountTrace("mcb_dialog() found bad % instead of resp.\r\n"), 3);
}

TEST_F(Dialog, ARefusalIsAResultWithTheUnitsFields) {
    unit->faults.refuse("SHOW_VERS", 5, 12);
    Result r = Run("SHOW_VERS");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.localErr, 5);
    EXPECT_EQ(r.status2, 12);
}

TEST_F(Dialog, ATruncatedRecordIsSkipped) {
    unit->faults.wrongLengthNext = 1;
    unit->faults.wrongLength = 9;
    Result r = Run("SET_SEGM 1", 0);
    // The short record is no record; no other comes, the attempt times out.
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.localErr, -2);
    EXPECT_STREQ(r.resp, "untouched");
}

TEST_F(Dialog, NoMailboxMeansNoRequestAtAll) {
    for (std::int32_t type : {0, -1, 3}) {
        rig.Record(11).nMailboxType = type;
        Result r = Run("SHOW_VERS");
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.localErr, -1);
        EXPECT_EQ(r.respLen, 0);
        EXPECT_STREQ(r.resp, "");
        EXPECT_EQ(rig.os.driverRequests, 0u);
    }
    EXPECT_EQ(rig.os.CountTrace("Kestrel::mcb_dialog(nMcb=11) No Mailbox or hardware not open!\r\n"), 3);
}

TEST_F(Dialog, ACommandLongerThanTheMailboxIsRefusedUntouched) {
    std::string longCommand(481, 'A');
    Result r = Run(longCommand.c_str());
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.localErr, -1);
    EXPECT_EQ(rig.os.driverRequests, 0u);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::mcb_dialog(nMcb=11) Command of 481 bytes does not fit the mailbox!\r\n"), 1);
    std::string fits(480, 'A');
    EXPECT_EQ(Run(fits.c_str()).result, 1);  // refused by the unit, but exchanged
}

TEST_F(Dialog, TheZeroLengthCommandWaitsForNoMessage) {
    Result r;
    r.result = mcb_dialog(11, nullptr, 0, 16, r.resp, &r.respLen, &r.localErr, &r.status2);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.localErr, 0);
    EXPECT_EQ(r.status2, 0);
    EXPECT_EQ(r.respLen, 0);
    EXPECT_STREQ(r.resp, "");
    EXPECT_EQ(unit->zeroLengthReceived(), 1);
    EXPECT_TRUE(unit->posted().empty());
}

TEST_F(Dialog, AnUnresponsiveUnitTimesOutAndTheNextExchangeRecovers) {
    unit->faults.takeDelayMs.reset();
    unit->faults.takeZeroLength = false;
    Result r = Run("SHOW_VERS");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.localErr, -2);
    EXPECT_EQ(rig.os.CountTrace("mcb_dialog() Timeout waiting for resp!\r\n"), 1);
    EXPECT_EQ(unit->mailboxByte(sim::kOutFlag), 0);  // cleared for the next exchange
    unit->faults.takeDelayMs = 0;
    unit->faults.takeZeroLength = true;
    EXPECT_EQ(Run("SHOW_VERS").result, 1);
}

TEST_F(Dialog, ASilentResponseIsRetriedAfterTheRecovery) {
    unit->faults.postDelayMs.reset();
    Result r = Run("SHOW_VERS");
    EXPECT_EQ(r.result, 0);
    // Each attempt: no message, the zero-length command is taken, try again.
    EXPECT_EQ(r.localErr, -3);
    EXPECT_EQ(rig.os.CountTrace("mcb_dialog() Comm err waiting for resp.\r\n"), 3);
    EXPECT_EQ(unit->timesReceived("SHOW_VERS"), 3);
}

}  // namespace

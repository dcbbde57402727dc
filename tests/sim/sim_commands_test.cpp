// Replies of the command language, in the exact formats the host reads.
#include <gtest/gtest.h>

#include <ctime>

#include "sim/demo.h"
#include "sim/status_record.h"
#include "sim_test_support.h"

namespace {

using simtest::FakeClock;
using simtest::MailboxClient;
using Messages = std::vector<std::string>;

const std::string kAccepted = "%000000069";

class SimCommandsTest : public ::testing::Test {
protected:
    FakeClock clock;
    std::unique_ptr<sim::Chain> chain = sim::Chain::Default(clock.clock(), 1039009530);
    sim::EmulatedDriver driver{*chain};
    sim::Unit& segments = *chain->unit(9);
    sim::Unit& devices = *chain->unit(12);
    MailboxClient mcb9{driver, clock, 9, 5};
    MailboxClient mcb12{driver, clock, 12, 4};

    // The reply text of a command that must be accepted.
    std::string reply(MailboxClient& mcb, const std::string& command) {
        Messages m = mcb.exchange(command);
        EXPECT_EQ(m.size(), 2u) << command;
        EXPECT_EQ(m.back(), kAccepted) << command;
        return m.empty() ? std::string() : m.front();
    }
    // The first status field of a command answered by its record alone.
    int status(MailboxClient& mcb, const std::string& command) {
        Messages m = mcb.exchange(command);
        EXPECT_EQ(m.size(), 1u) << command;
        return m.empty() ? -1 : std::atoi(m.back().substr(1, 3).c_str());
    }
};

TEST(SimStatusRecordTest, FieldsAndChecksum) {
    EXPECT_EQ(sim::StatusRecord(0, 0), "%000000069");
    EXPECT_EQ(sim::StatusRecord(1, 0), "%001000070");
    EXPECT_EQ(sim::StatusRecord(5, 12), "%005012077");
}

TEST_F(SimCommandsTest, IdentificationReplies) {
    EXPECT_EQ(reply(mcb9, "SHOW_VERS"), "$F0919-005");
    std::string conf = reply(mcb9, "SHOW_CONF");
    EXPECT_EQ(conf.size(), 96u);
    EXPECT_EQ(conf.substr(0, 12), "$J0819200002");
    EXPECT_EQ(reply(mcb12, "SHOW_CONF").substr(0, 12), "$J6553600004");
    EXPECT_EQ(reply(mcb9, "SHOW_FEAT"), "FEAT 1114112 8192 536870912 2147483648");
    EXPECT_EQ(reply(mcb9, "SHOW_FEAT_EXTE"), "FEAT 17 34 51 68");
    EXPECT_EQ(reply(mcb9, "SHOW_CONF_MASK"), "CONF_MASK 2147483647 2147483648");
    EXPECT_EQ(reply(mcb9, "show_version"), "$F0919-005") << "full words, any case";
}

TEST_F(SimCommandsTest, ConfigurationCanAnnounceOtherNumbers) {
    sim::UnitConfig odd = sim::DemoSegmentUnit(0);
    odd.reportTotal = 100;
    odd.reportDetectors = 40;
    chain->addUnit(10, odd);
    MailboxClient mcb10(driver, clock, 10, 5);
    EXPECT_EQ(reply(mcb10, "SHOW_CONF").substr(0, 12), "$J0010000040");
}

TEST_F(SimCommandsTest, SelectionAimsQueriesAtOneInput) {
    segments.state().detector(2).config.features[4] = 99;
    EXPECT_EQ(status(mcb9, "SET_SEGM 2"), 0);
    EXPECT_EQ(reply(mcb9, "SHOW_FEAT_EXTE"), "FEAT 99 34 51 68");
    EXPECT_EQ(reply(mcb9, "SHOW_CONF_MASK"), "CONF_MASK 16777215 4278190080");
    EXPECT_EQ(status(mcb9, "SET_SEGM 3"), sim::kStatusBadArgument);
    EXPECT_EQ(status(mcb9, "SET_SEGM 0"), sim::kStatusBadArgument);
    EXPECT_EQ(status(mcb9, "SET_SEGM x"), sim::kStatusBadArgument);
    EXPECT_EQ(segments.state().selected, 2) << "refusals keep the selection";
    EXPECT_EQ(status(mcb9, "SET_DEVI 1"), sim::kStatusUnknownCommand) << "a segment unit has no devices";
    EXPECT_EQ(status(mcb12, "SET_SEGM 1"), sim::kStatusUnknownCommand);
    EXPECT_EQ(status(mcb12, "SET_DEVI 4"), 0);
    EXPECT_EQ(status(mcb12, "SET_DEVI 5"), sim::kStatusBadArgument);
    EXPECT_EQ(devices.state().selected, 4);
}

TEST_F(SimCommandsTest, ViewsWithinTheInputsRange) {
    EXPECT_EQ(status(mcb9, "SET_VIEW 1"), 0);
    EXPECT_EQ(segments.state().view, 1);
    EXPECT_EQ(status(mcb9, "SET_VIEW 2"), sim::kStatusBadArgument);
    EXPECT_EQ(status(mcb12, "SET_VIEW 0"), 0);
    EXPECT_EQ(status(mcb12, "SET_VIEW 1"), sim::kStatusBadArgument) << "one view only";
}

TEST_F(SimCommandsTest, RegionsOfInterestAreMarkedAndClearedPerInput) {
    EXPECT_EQ(status(mcb9, "SET_SEGM 2"), 0);
    EXPECT_EQ(status(mcb9, "SET_ROI 100, 50"), 0);
    const auto& roi = segments.state().detector(2).roi;
    EXPECT_FALSE(roi[99]);
    EXPECT_TRUE(roi[100]);
    EXPECT_TRUE(roi[149]);
    EXPECT_FALSE(roi[150]);
    EXPECT_FALSE(segments.state().detector(1).roi[100]);
    EXPECT_EQ(*segments.state().word(2, 120) & 0xFF000000u, 0x80000000u) << "ROI flag is the aux mask's top bit";

    EXPECT_EQ(status(mcb9, "SET_WIND 120, 10"), 0);
    EXPECT_EQ(status(mcb9, "CLEAR_ROI"), 0);
    EXPECT_TRUE(roi[119]);
    EXPECT_FALSE(roi[120]);
    EXPECT_FALSE(roi[129]);
    EXPECT_TRUE(roi[130]);
    EXPECT_EQ(*segments.state().word(2, 125) & 0x80000000u, 0u);

    EXPECT_EQ(status(mcb9, "SET_ROI 4096, 1"), sim::kStatusBadArgument);
    EXPECT_EQ(status(mcb9, "SET_ROI 4294967295, 4294967295"), sim::kStatusBadArgument);
    EXPECT_EQ(status(mcb9, "SET_ROI 4294967296, 1"), sim::kStatusBadArgument);
    EXPECT_EQ(status(mcb9, "SET_ROI 5"), sim::kStatusBadArgument);
    EXPECT_EQ(status(mcb9, "CLEAR_ROI 5"), sim::kStatusBadArgument);
}

TEST_F(SimCommandsTest, ActivityMasks) {
    EXPECT_EQ(reply(mcb9, "SHOW_ACTI").substr(0, 7), "$C00001");
    EXPECT_EQ(reply(mcb9, "SHOW_ACTI").size(), 10u);
    EXPECT_EQ(status(mcb9, "SET_SEGM 2"), 0);
    EXPECT_EQ(status(mcb9, "START"), 0);
    EXPECT_EQ(reply(mcb9, "SHOW_ACTI").substr(0, 7), "$C00003");
    EXPECT_EQ(status(mcb9, "SHOW_ACTI_DEVI"), sim::kStatusUnknownCommand);

    EXPECT_EQ(reply(mcb12, "SHOW_ACTI_DEVI").substr(0, 7), "$C00002");
    EXPECT_EQ(status(mcb12, "SET_DEVI 4"), 0);
    EXPECT_EQ(status(mcb12, "START"), 0);
    EXPECT_EQ(reply(mcb12, "SHOW_ACTI_DEVI").substr(0, 7), "$C00010");
    EXPECT_EQ(reply(mcb12, "SHOW_ACTI").substr(0, 7), "$C00001") << "selected device only";
}

// Reads a "$N" date and time pair back into seconds as the host does.
std::time_t Seconds(const std::string& date, const std::string& time) {
    std::tm tm{};
    tm.tm_mday = std::stoi(date.substr(2, 3));
    tm.tm_mon = std::stoi(date.substr(5, 3)) - 1;
    int year = std::stoi(date.substr(8, 3));
    tm.tm_year = year < 80 ? year + 100 : year;
    tm.tm_hour = std::stoi(time.substr(2, 3));
    tm.tm_min = std::stoi(time.substr(5, 3));
    tm.tm_sec = std::stoi(time.substr(8, 3));
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TEST_F(SimCommandsTest, ClockAndStartStamps) {
    clock.ms += 5500;
    std::string date = reply(mcb9, "SHOW_DATE"), time = reply(mcb9, "SHOW_TIME");
    ASSERT_EQ(date.size(), 11u);
    EXPECT_EQ(date.substr(0, 2), "$N");
    EXPECT_EQ(Seconds(date, time), 1039009530 + 5);
    EXPECT_EQ(Seconds(reply(mcb9, "SHOW_DATE_STAR"), reply(mcb9, "SHOW_TIME_STAR")), 1039009530 - 60);

    EXPECT_EQ(status(mcb12, "SET_DEVI 3"), 0);
    EXPECT_EQ(reply(mcb12, "SHOW_DATE_STAR"), "$N000000000") << "never started";
    clock.ms += 10000;
    EXPECT_EQ(status(mcb12, "START"), 0);
    EXPECT_EQ(Seconds(reply(mcb12, "SHOW_DATE_STAR"), reply(mcb12, "SHOW_TIME_STAR")), 1039009530 + 15);
}

TEST_F(SimCommandsTest, ClockOffsetShiftsTheUnitsClock) {
    sim::UnitConfig late = sim::DemoSegmentUnit(0);
    late.clockOffset = 3600;
    chain->addUnit(10, late);
    MailboxClient mcb10(driver, clock, 10, 5);
    EXPECT_EQ(Seconds(reply(mcb10, "SHOW_DATE"), reply(mcb10, "SHOW_TIME")), 1039009530 + 3600);
}

TEST_F(SimCommandsTest, ApplicationDataPerInput) {
    EXPECT_EQ(status(mcb9, "SHOW_DATA_APP \"@LOCK\""), sim::kStatusNoValue);
    EXPECT_EQ(status(mcb9, "SET_DATA_APP \"@LOCK\",\"17 Smith, J.\""), 0);
    EXPECT_EQ(reply(mcb9, "SHOW_DATA_APP \"@LOCK\""), "$F17 Smith, J.\r\n");
    EXPECT_EQ(status(mcb9, "SET_SEGM 2"), 0);
    EXPECT_EQ(status(mcb9, "SHOW_DATA_APP \"@LOCK\""), sim::kStatusNoValue) << "values are per input";
    EXPECT_EQ(status(mcb9, "SET_DATA_APP \"@DESC\",\"\""), 0);
    EXPECT_EQ(reply(mcb9, "SHOW_DATA_APP \"@DESC\""), "$F\r\n");
    EXPECT_EQ(status(mcb9, "SET_DATA_APP \"@DESC\""), sim::kStatusBadArgument);
    EXPECT_EQ(status(mcb9, "SHOW_DATA_APP @DESC"), sim::kStatusBadArgument);
}

TEST_F(SimCommandsTest, UnknownAndMalformedCommands) {
    EXPECT_EQ(status(mcb9, "SHOW_EVERYTHING"), sim::kStatusUnknownCommand);
    EXPECT_EQ(status(mcb9, "SHO_VERS"), sim::kStatusUnknownCommand) << "words shorter than four letters";
    EXPECT_EQ(status(mcb9, "SHOW_VERS 3"), sim::kStatusBadArgument);
}

}  // namespace

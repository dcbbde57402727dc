// Whether a detector is acquiring, and when its acquisition started: the
// MCB's own clock and stamp when it keeps them, else the PC side.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "support/rig.h"

namespace {

using Texts = std::vector<std::string>;

std::tm Local(std::uint32_t t) {
    std::time_t time = static_cast<std::time_t>(t);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &time);
#else
    localtime_r(&time, &tm);
#endif
    return tm;
}

class Acquisition : public ::testing::Test {
protected:
    fake::Rig rig;
    sim::Unit* segments = nullptr;

    void SetUp() override {
        // MCB 9: four segments; 1 to 3 keep a clock and a start stamp, 4 does not.
        sim::UnitConfig seg = fake::SegmentUnit(4, 256, {0x00010000, 0x00002000, 0, 0});
        seg.detector[3].features[0] = 0;
        segments = rig.chain->addUnit(9, seg);
        // MCB 12: four devices, device 2 acquiring.
        sim::UnitConfig dev = fake::DeviceUnit(256);
        dev.detector[1].acquiring = true;
        rig.chain->addUnit(12, dev);
        rig.ConnectNt();
        rig.OpenDriverOnly();
        rig.addin.InitDetectors();
        rig.os.wallClock = 1700000500;
        Begin();
    }
    void TearDown() override { EXPECT_EQ(rig.os.mutexDepth(), 0); }
    void Begin() {
        segments->clearLogs();
        rig.Unit(12).clearLogs();
        rig.os.ClearTrace();
    }
    void Dates(const char* date, const char* time, const char* startDate, const char* startTime) {
        segments->faults.replies.clear();
        segments->faults.reply("SHOW_DATE", {date});
        segments->faults.reply("SHOW_TIME", {time});
        segments->faults.reply("SHOW_DATE_STAR", {startDate});
        segments->faults.reply("SHOW_TIME_STAR", {startTime});
    }
    Texts StartTimeTrace() const {
        Texts lines;
        for (const auto& line : rig.os.trace)
            if (line.rfind("LocalGetStartTime(): ", 0) == 0) lines.push_back(line);
        return lines;
    }
};

TEST_F(Acquisition, IsActiveReadsTheMaskOfActiveInputs) {
    segments->faults.reply("SHOW_ACTI", {"$C00005xyz"});
    std::int32_t nStatus = 0;
    EXPECT_TRUE(rig.addin.IsActive(9, 1, &nStatus));
    EXPECT_EQ(nStatus, 1);
    nStatus = 0;
    EXPECT_FALSE(rig.addin.IsActive(9, 2, &nStatus));
    EXPECT_EQ(nStatus, 1);
    EXPECT_TRUE(rig.addin.IsActive(9, 3, &nStatus));
    EXPECT_FALSE(rig.addin.IsActive(9, 4, &nStatus));
    EXPECT_FALSE(rig.addin.IsActive(9, 4, nullptr));
    // Asked straight, without selecting the input.
    EXPECT_EQ(rig.Received(9), (Texts{"SHOW_ACTI", "SHOW_ACTI", "SHOW_ACTI", "SHOW_ACTI", "SHOW_ACTI"}));

    // A four-device MCB is asked about all its devices at once.
    EXPECT_TRUE(rig.addin.IsActive(12, 2, &nStatus));
    EXPECT_EQ(nStatus, 1);
    EXPECT_FALSE(rig.addin.IsActive(12, 1, &nStatus));
    EXPECT_EQ(nStatus, 1);
    EXPECT_EQ(rig.Received(12), (Texts{"SHOW_ACTI_DEVI", "SHOW_ACTI_DEVI"}));
}

TEST_F(Acquisition, WithoutAUsableAnswerADetectorCountsAsActive) {
    std::int32_t nStatus = 0;
    EXPECT_TRUE(rig.addin.IsActive(9, 5, &nStatus));
    EXPECT_EQ(nStatus, -1);
    EXPECT_TRUE(rig.addin.IsActive(13, 1, &nStatus));
    EXPECT_EQ(nStatus, -1);
    EXPECT_TRUE(segments->received().empty());

    for (const char* reply : {"$C0000512", "$D00005xyz", ""}) {
        SCOPED_TRACE(reply);
        segments->faults.reply("SHOW_ACTI", {reply});
        nStatus = 0;
        EXPECT_TRUE(rig.addin.IsActive(9, 2, &nStatus));
        EXPECT_EQ(nStatus, -3);
    }
    segments->faults.refuse("SHOW_ACTI", 5);
    nStatus = 0;
    EXPECT_TRUE(rig.addin.IsActive(9, 2, &nStatus));
    EXPECT_EQ(nStatus, -3);

    // An MCB that did not respond at its probe is not asked.
    Begin();
    rig.Record(9).bResponding = 0;
    EXPECT_TRUE(rig.addin.IsActive(9, 2, &nStatus));
    EXPECT_EQ(nStatus, -3);
    EXPECT_TRUE(segments->received().empty());
}

TEST_F(Acquisition, TheMcbsClockAndStampAreConvertedAsLocalTime) {
    Process().nDebugLevel = 1;
    Dates("$N005012002", "$N010000000", "$N004012002", "$N013045030");
    std::uint32_t tNow = 0;
    const std::uint32_t tStart = rig.addin.LocalGetStartTime(9, 1, &tNow);
    EXPECT_EQ(rig.Received(9), (Texts{"SET_SEGM 1", "SHOW_DATE", "SHOW_DATE_STAR", "SHOW_TIME", "SHOW_TIME_STAR"}));
    std::tm start = Local(tStart);
    EXPECT_EQ(start.tm_year, 102);
    EXPECT_EQ(start.tm_mon, 11);
    EXPECT_EQ(start.tm_mday, 4);
    EXPECT_EQ(start.tm_hour, 13);
    EXPECT_EQ(start.tm_min, 45);
    EXPECT_EQ(start.tm_sec, 30);
    EXPECT_EQ(tNow - tStart, 20 * 3600u + 14 * 60u + 30u);  // 5 December 10:00:00
    EXPECT_EQ(StartTimeTrace(),
              (Texts{"LocalGetStartTime(): Date: \"$N005012002\", Time:\"$N010000000\"\r\n",
                     "LocalGetStartTime(): Day 5, Month 11, Year 102, Hour 10, Min 0, Sec 0\r\n",
                     "LocalGetStartTime(): StartDate: \"$N004012002\", StartTime:\"$N013045030\"\r\n",
                     "LocalGetStartTime(): Day 4, Month 11, Year 102, Hour 13, Min 45, Sec 30\r\n"}));

    // Years from 80 on are of the 1900s.
    Dates("$N005012002", "$N010000000", "$N001001080", "$N000000000");
    start = Local(rig.addin.LocalGetStartTime(9, 1, &tNow));
    EXPECT_EQ(start.tm_year, 80);
    EXPECT_EQ(start.tm_mon, 0);
    EXPECT_EQ(start.tm_mday, 1);
    Dates("$N005012002", "$N010000000", "$N031012099", "$N000000000");
    EXPECT_EQ(Local(rig.addin.LocalGetStartTime(9, 1, &tNow)).tm_year, 99);

    // Without a now pointer all four are still asked and both replies
    // traced; only the current date is not converted.
    Begin();
    Dates("$N005012002", "$N010000000", "$N004012002", "$N013045030");
    EXPECT_EQ(rig.addin.LocalGetStartTime(9, 1, nullptr), tStart);
    EXPECT_EQ(segments->received().size(), 4u);
    EXPECT_EQ(StartTimeTrace(),
              (Texts{"LocalGetStartTime(): Date: \"$N005012002\", Time:\"$N010000000\"\r\n",
                     "LocalGetStartTime(): StartDate: \"$N004012002\", StartTime:\"$N013045030\"\r\n",
                     "LocalGetStartTime(): Day 4, Month 11, Year 102, Hour 13, Min 45, Sec 30\r\n"}));

    // A current date that is no date: now is 0, the MCB's start still counts.
    Dates("$N00501", "$N010000000", "$N004012002", "$N013045030");
    tNow = 77;
    EXPECT_EQ(rig.addin.LocalGetStartTime(9, 1, &tNow), tStart);
    EXPECT_EQ(tNow, 0u);
    Dates("XX005012002", "$N010000000", "$N004012002", "$N013045030");
    tNow = 77;
    EXPECT_EQ(rig.addin.LocalGetStartTime(9, 1, &tNow), tStart);
    EXPECT_EQ(tNow, 0u);
}

TEST_F(Acquisition, WithoutAGoodMcbStampThePcSideStampAnswers) {
    rig.Record(9).tStartTime[0] = 4242;
    struct Case {
        const char* startDate;
        const char* startTime;
    };
    const Case cases[] = {
        {"$N004000002", "$N013045030"},  // month 000
        {"$N000012002", "$N013045030"},  // day 000
        {"$N004012079", "$N013045030"},  // 2079: beyond a 32-bit time
        {"$N004012", "$N013045030"},     // too short to hold a date
        {"$N004012002", "$N0130"},
        {"$X004012002", "$N013045030"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.startDate) + " " + c.startTime);
        Dates("$N005012002", "$N010000000", c.startDate, c.startTime);
        std::uint32_t tNow = 0;
        EXPECT_EQ(rig.addin.LocalGetStartTime(9, 1, &tNow), 4242u);
        EXPECT_EQ(tNow, 1700000500u);  // the PC's clock, though the MCB's was fine
    }

    // A query that fails ends the questions.
    ASSERT_EQ(rig.addin.LocalGetStartTime(9, 2, nullptr), 0u);  // selects input 2 first
    Begin();
    rig.Record(9).tStartTime[1] = 5353;
    segments->faults.floodNext = 3;
    std::uint32_t tNow = 0;
    EXPECT_EQ(rig.addin.LocalGetStartTime(9, 2, &tNow), 5353u);
    EXPECT_EQ(tNow, 1700000500u);
    EXPECT_EQ(rig.Received(9), (Texts{"SHOW_DATE", "SHOW_DATE", "SHOW_DATE"}));

    // No clock in the MCB: nothing is asked.
    Begin();
    rig.Record(9).tStartTime[3] = 12345;
    tNow = 0;
    EXPECT_EQ(rig.addin.LocalGetStartTime(9, 4, &tNow), 12345u);
    EXPECT_EQ(tNow, 1700000500u);
    EXPECT_TRUE(segments->received().empty());

    tNow = 77;
    EXPECT_EQ(rig.addin.LocalGetStartTime(9, 5, &tNow), 0u);
    EXPECT_EQ(tNow, 0u);
}

TEST_F(Acquisition, SetStartTimeStampsThePcTimeAndStoresIt) {
    rig.os.wallClock = 1700000777;
    rig.addin.SetStartTime(9, 4, 0xDEADBEEF);
    EXPECT_EQ(rig.Record(9).tStartTime[3], 1700000777);
    EXPECT_EQ(rig.os.profiles["hvnacc32.ini"]["m9s04"]["@start"], "1700000777");
    rig.os.wallClock += 100;
    std::uint32_t tNow = 0;
    EXPECT_EQ(rig.addin.LocalGetStartTime(9, 4, &tNow), 1700000777u);
    EXPECT_EQ(tNow, 1700000877u);
    EXPECT_TRUE(segments->received().empty());

    // A storing failure is not reported; the stamp stays.
    rig.os.failProfileWrite = true;
    rig.addin.SetStartTime(9, 3, 0);
    EXPECT_EQ(rig.Record(9).tStartTime[2], 1700000877);

    rig.addin.SetStartTime(9, 5, 0);
    rig.addin.SetStartTime(17, 1, 0);
    EXPECT_EQ(rig.os.profiles["hvnacc32.ini"].count("m9s05"), 0u);
}

}  // namespace

// Start-up enumeration: every MCB probed in order, then each detector's
// stored lock and start values loaded into the shared table.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "support/rig.h"

namespace {

constexpr std::uint32_t kMcbAppData = 0x00100000;

sim::UnitConfig Segment(int nDetectors, std::uint32_t dwWord0 = 0) {
    return fake::SegmentUnit(nDetectors, 1024, {dwWord0, 0x00002000, 0, 0});
}

// When a unit first took a command of this text; the last time when `last`.
std::uint32_t TakenAt(const sim::Unit& unit, const std::string& text, bool last = false) {
    std::uint32_t at = 0;
    bool found = false;
    for (const auto& command : unit.received()) {
        if (command.text != text) continue;
        at = command.atMs;
        found = true;
        if (!last) break;
    }
    EXPECT_TRUE(found) << text;
    return at;
}

class Enumeration : public ::testing::Test {
protected:
    fake::Rig rig;

    void TearDown() override { EXPECT_EQ(rig.os.mutexDepth(), 0); }
    void Connect() {
        rig.ConnectNt();
        rig.OpenDriverOnly();
    }
    std::string& Ini(const std::string& section, const std::string& key) {
        return rig.os.profiles["hvnacc32.ini"][section][key];
    }
};

TEST_F(Enumeration, ProbesNineToSixteenThenReadsEachDetectorsValuesInOrder) {
    sim::UnitConfig nine = Segment(2, kMcbAppData);
    nine.detector[0].appData["@LOCK"] = "17 Smith";
    nine.detector[1].appData["@START"] = "1700000123";
    sim::UnitConfig twelve = Segment(1, kMcbAppData);
    twelve.detector[0].appData["@LOCK"] = "abc";
    twelve.detector[0].appData["@START"] = "12 o'clock";
    rig.chain->addUnit(9, nine);
    rig.chain->addUnit(12, twelve);
    Connect();
    McbRecord& r9 = rig.Record(9);
    McbRecord& r12 = rig.Record(12);
    r9.tStartTime[0] = 55;
    r9.dwDetectorWord[0] = 66;
    r9.dwDetectorWord[1] = 67;
    r12.dwLock[0] = 99;

    EXPECT_TRUE(rig.addin.InitDetectors());

    // Eight probes, in ascending order.
    for (int nMcb = 9; nMcb <= 16; ++nMcb) {
        EXPECT_NE(rig.Record(nMcb).nMailboxType, 0) << nMcb;
        if (nMcb > 9) {
            EXPECT_GE(rig.Record(nMcb).dwProbeTick, rig.Record(nMcb - 1).dwProbeTick) << nMcb;
        }
    }
    const sim::Unit& unit9 = rig.Unit(9);
    const sim::Unit& unit12 = rig.Unit(12);
    EXPECT_LT(TakenAt(unit9, "SHOW_CONF_MASK", true), TakenAt(unit12, "SHOW_VERS"));

    // Then the values: (9, 1), (9, 2), (12, 1), lock before start.
    const std::vector<std::string> reads9 = {"SHOW_DATA_APP \"@LOCK\"", "SHOW_DATA_APP \"@START\"", "SET_SEGM 2",
                                             "SHOW_DATA_APP \"@LOCK\"", "SHOW_DATA_APP \"@START\""};
    const std::vector<std::string> received9 = rig.Received(9);
    ASSERT_GE(received9.size(), reads9.size());
    EXPECT_EQ(std::vector<std::string>(received9.end() - 5, received9.end()), reads9);
    const std::vector<std::string> received12 = rig.Received(12);
    ASSERT_GE(received12.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(received12.end() - 2, received12.end()),
              (std::vector<std::string>{"SHOW_DATA_APP \"@LOCK\"", "SHOW_DATA_APP \"@START\""}));
    EXPECT_GE(TakenAt(unit9, "SHOW_DATA_APP \"@LOCK\""), rig.Record(16).dwProbeTick);
    EXPECT_LE(TakenAt(unit9, "SHOW_DATA_APP \"@START\"", true), TakenAt(unit12, "SHOW_DATA_APP \"@LOCK\""));

    EXPECT_EQ(r9.dwLock[0], 17u);
    EXPECT_EQ(r9.tStartTime[0], 0);
    EXPECT_EQ(r9.dwDetectorWord[0], 0u);
    EXPECT_EQ(r9.dwLock[1], 0u);
    EXPECT_EQ(r9.tStartTime[1], 1700000123);
    EXPECT_EQ(r9.dwDetectorWord[1], 0u);
    EXPECT_EQ(r12.dwLock[0], 0u);  // a value that is not a number stores 0
    EXPECT_EQ(r12.tStartTime[0], 12);

    // The count, at level 0, after everything else.
    ASSERT_FALSE(rig.os.trace.empty());
    EXPECT_EQ(rig.os.trace.back(), "Kestrel: 3 detectors for local access\r\n");
    EXPECT_EQ(rig.os.CountTrace("Kestrel: 3 detectors for local access\r\n"), 1);
}

TEST_F(Enumeration, IniValuesAreLoadedAndALockWithoutStoredTextIsKept) {
    rig.chain->addUnit(9, Segment(2));
    rig.chain->addUnit(14, Segment(1));
    Connect();
    Ini("m9s01", "@lock") = "17 Smith";
    Ini("m9s02", "@start") = "1700000123";
    Ini("m14s01", "@lock") = "  42";
    McbRecord& r9 = rig.Record(9);
    r9.dwLock[1] = 5;  // as a SetLock whose storing failed leaves it
    r9.tStartTime[0] = 55;
    r9.dwDetectorWord[0] = 66;

    EXPECT_TRUE(rig.addin.InitDetectors());
    EXPECT_EQ(rig.os.profileCalls, 6);  // "@LOCK" and "@START" of three detectors
    EXPECT_EQ(r9.dwLock[0], 17u);
    EXPECT_EQ(r9.tStartTime[0], 0);
    EXPECT_EQ(r9.dwDetectorWord[0], 0u);
    EXPECT_EQ(r9.dwLock[1], 5u);
    EXPECT_EQ(r9.tStartTime[1], 1700000123);
    EXPECT_EQ(rig.Record(14).dwLock[0], 42u);
    EXPECT_EQ(rig.os.CountTrace("Kestrel: 3 detectors for local access\r\n"), 1);

    // A refresh reloads the same values without asking the MCBs anything.
    rig.Unit(9).clearLogs();
    const std::uint32_t probed = r9.dwProbeTick;
    rig.os.ClearTrace();
    rig.addin.SetDetectorWord(9, 2, 1234);
    Ini("m9s02", "@lock") = "23 Jones";
    Ini("m9s02", "@start") = "-5";
    rig.addin.RefreshLocks();
    EXPECT_EQ(r9.dwLock[1], 23u);
    EXPECT_EQ(r9.tStartTime[1], -5);
    EXPECT_EQ(r9.dwDetectorWord[1], 0u);
    EXPECT_EQ(r9.dwProbeTick, probed);
    EXPECT_TRUE(rig.Unit(9).received().empty());
    EXPECT_TRUE(rig.os.trace.empty());
}

TEST_F(Enumeration, NoDetectorsIsReportedAndNoValueIsRead) {
    // No driver at all: every MCB is still probed, and found absent.
    EXPECT_TRUE(rig.addin.InitDetectors());
    EXPECT_EQ(rig.os.driverRequests, 0u);
    for (int nMcb = 9; nMcb <= 16; ++nMcb) EXPECT_EQ(rig.Record(nMcb).nMailboxType, -1) << nMcb;
    EXPECT_EQ(rig.os.CountTrace("Kestrel: No detectors for local access\r\n"), 1);
    EXPECT_EQ(rig.os.profileCalls, 0);

    // The driver open, nothing connected.
    Connect();
    rig.os.ClearTrace();
    EXPECT_TRUE(rig.addin.InitDetectors());
    EXPECT_GT(rig.os.driverRequests, 0u);
    EXPECT_EQ(rig.os.trace, (std::vector<std::string>{"Kestrel: No detectors for local access\r\n"}));
    EXPECT_EQ(rig.os.profileCalls, 0);

    rig.addin.RefreshLocks();
    EXPECT_EQ(rig.os.profileCalls, 0);
}

TEST_F(Enumeration, AtMostSixteenDetectorsOfOneMcbAreCountedAndRead) {
    sim::UnitConfig config = Segment(16);
    config.reportDetectors = 20;
    config.reportTotal = 16000;
    rig.chain->addUnit(9, config);
    Connect();
    McbRecord& r9 = rig.Record(9);
    EXPECT_TRUE(rig.addin.InitDetectors());
    EXPECT_EQ(r9.nDetectors, 16);
    EXPECT_EQ(rig.os.profileCalls, 32);
    EXPECT_EQ(rig.os.CountTrace("Kestrel: 16 detectors for local access\r\n"), 1);
    rig.addin.RefreshLocks();
    EXPECT_EQ(rig.os.profileCalls, 64);
}

}  // namespace

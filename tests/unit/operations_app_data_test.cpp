// Named per-detector values in the MCB or the INI file, and the locks,
// descriptions and identifiers built on them.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "support/rig.h"

namespace {

using Texts = std::vector<std::string>;

sim::UnitConfig Segment(int nDetectors) { return fake::SegmentUnit(nDetectors, 256); }

class AppData : public ::testing::Test {
protected:
    fake::Rig rig;
    sim::Unit* mcb9 = nullptr;
    char szBuffer[200];

    void SetUp() override {
        // MCB 9: input 1 keeps its values in the unit, input 2 in the INI file.
        sim::UnitConfig nine = Segment(2);
        nine.detector.resize(2);
        nine.detector[0].features = {0x00100000, 0x00002000, 0, 0};
        nine.detector[1].features = {0, 0, 0, 0};
        mcb9 = rig.chain->addUnit(9, nine);
        rig.chain->addUnit(10, Segment(1));
        rig.chain->addUnit(11, Segment(3));
        rig.chain->addUnit(12, fake::DeviceUnit(256));
        rig.chain->addUnit(16, Segment(12));
        rig.ConnectNt();
        rig.OpenDriverOnly();
        rig.addin.InitDetectors();
        ASSERT_EQ(rig.Record(9).dwFeatures[0][0], 0x00100000u);
        ASSERT_EQ(rig.Record(9).dwFeatures[1][0], 0u);
        mcb9->clearLogs();
        rig.os.profileCalls = 0;
        std::strcpy(szBuffer, "untouched");
    }
    void TearDown() override { EXPECT_EQ(rig.os.mutexDepth(), 0); }
    std::map<std::string, std::map<std::string, std::string>>& Ini() { return rig.os.profiles["hvnacc32.ini"]; }
};

TEST_F(AppData, IniValuesLiveInOneSectionPerDetector) {
    EXPECT_TRUE(rig.addin.SetAppData(12, 2, "Colour", "blue"));
    EXPECT_EQ(Ini()["m12s02"]["colour"], "blue");
    EXPECT_TRUE(rig.addin.SetAppData(16, 12, "@DESC", "far end"));
    EXPECT_EQ(Ini()["m16s12"]["@desc"], "far end");
    EXPECT_TRUE(rig.addin.SetAppData(9, 2, "@ID", "7"));
    EXPECT_EQ(Ini()["m9s02"]["@id"], "7");
    EXPECT_TRUE(mcb9->received().empty());

    EXPECT_EQ(rig.addin.GetAppData(12, 2, "Colour", "none", szBuffer, sizeof szBuffer), 4);
    EXPECT_STREQ(szBuffer, "blue");
    EXPECT_EQ(rig.addin.GetAppData(12, 2, "Shape", "none", szBuffer, sizeof szBuffer), 4);
    EXPECT_STREQ(szBuffer, "none");
    EXPECT_EQ(rig.addin.GetAppData(12, 2, "Shape", "abcdefgh", szBuffer, 4), 3);
    EXPECT_STREQ(szBuffer, "abc");
    EXPECT_EQ(rig.addin.GetAppData(16, 12, "@DESC", "", szBuffer, 4), 3);
    EXPECT_STREQ(szBuffer, "far");

    // A null value removes the key.
    EXPECT_TRUE(rig.addin.SetAppData(12, 2, "Colour", nullptr));
    EXPECT_EQ(Ini()["m12s02"].count("colour"), 0u);

    rig.os.failProfileWrite = true;
    EXPECT_FALSE(rig.addin.SetAppData(12, 2, "Colour", "red"));
}

// What would write lines of its own into the file, or be read back as
// another name, is refused: another detector's lock stays its own.
TEST_F(AppData, IniNamesAndValuesThatWouldBreakTheFileAreRefused) {
    ASSERT_TRUE(rig.addin.SetAppData(12, 2, "@LOCK", "5 Smith"));
    const int calls = rig.os.profileCalls;
    for (const char* name : {"X\n[M12S02]\n@LOCK", "X\r@LOCK", "a=b", "[M12S02]", ";note"})
        EXPECT_FALSE(rig.addin.SetAppData(12, 1, name, "99 Evil")) << name;
    EXPECT_FALSE(rig.addin.SetAppData(12, 1, "Note", "one\r\n[M12S02]\r\n@LOCK=99 Evil"));
    EXPECT_EQ(rig.os.profileCalls, calls);
    EXPECT_EQ(Ini()["m12s02"]["@lock"], "5 Smith");
    // Names that merely look odd are stored.
    EXPECT_TRUE(rig.addin.SetAppData(12, 1, "a[b];c", "x=y [z]"));
    EXPECT_EQ(rig.addin.GetAppData(12, 1, "a[b];c", "", szBuffer, sizeof szBuffer), 7);
    EXPECT_STREQ(szBuffer, "x=y [z]");
}

TEST_F(AppData, NothingIsReadOrWrittenForBadArguments) {
    const int calls = rig.os.profileCalls;
    const int acquisitions = rig.os.mutexAcquisitions;
    EXPECT_EQ(rig.addin.GetAppData(12, 1, "X", "default", szBuffer, 0), 0);
    EXPECT_EQ(rig.addin.GetAppData(9, 1, "X", "default", szBuffer, -1), 0);
    EXPECT_EQ(rig.os.mutexAcquisitions, acquisitions);  // the size test comes before the lock
    EXPECT_EQ(rig.addin.GetAppData(12, 5, "X", "default", szBuffer, sizeof szBuffer), 0);
    EXPECT_EQ(rig.addin.GetAppData(13, 1, "X", "default", szBuffer, sizeof szBuffer), 0);
    EXPECT_STREQ(szBuffer, "untouched");
    EXPECT_FALSE(rig.addin.SetAppData(12, 5, "X", "y"));
    EXPECT_FALSE(rig.addin.SetAppData(12, 1, nullptr, "y"));
    EXPECT_FALSE(rig.addin.SetAppData(9, 1, nullptr, "y"));
    EXPECT_EQ(rig.os.profileCalls, calls);
    EXPECT_TRUE(mcb9->received().empty());
}

TEST_F(AppData, McbValuesGoThroughTheUnitsCommands) {
    EXPECT_TRUE(rig.addin.SetAppData(9, 1, "@DESC", "Left arm"));
    EXPECT_EQ(rig.addin.GetAppData(9, 1, "@DESC", "def", szBuffer, sizeof szBuffer), 8);
    EXPECT_STREQ(szBuffer, "Left arm");
    EXPECT_EQ(rig.Received(9), (Texts{"SET_DATA_APP \"@DESC\",\"Left arm\"", "SHOW_DATA_APP \"@DESC\""}));
    EXPECT_EQ(rig.os.profileCalls, 0);

    // The line end is not part of the value, also when the value was cut.
    EXPECT_TRUE(rig.addin.SetAppData(9, 1, "Short", "abc"));
    EXPECT_EQ(rig.addin.GetAppData(9, 1, "Short", "def", szBuffer, 5), 3);
    EXPECT_STREQ(szBuffer, "abc");
    EXPECT_EQ(rig.addin.GetAppData(9, 1, "@DESC", "def", szBuffer, 4), 3);
    EXPECT_STREQ(szBuffer, "Lef");
    EXPECT_TRUE(rig.addin.SetAppData(9, 1, "Empty", ""));
    std::strcpy(szBuffer, "untouched");
    EXPECT_EQ(rig.addin.GetAppData(9, 1, "Empty", "def", szBuffer, sizeof szBuffer), 0);
    EXPECT_STREQ(szBuffer, "");

    // No value: the default, with its length.
    EXPECT_EQ(rig.addin.GetAppData(9, 1, "Never", "fallback", szBuffer, sizeof szBuffer), 8);  // refused
    EXPECT_STREQ(szBuffer, "fallback");
    EXPECT_EQ(rig.addin.GetAppData(9, 1, "Never", "fallback", szBuffer, 5), 4);
    EXPECT_STREQ(szBuffer, "fall");
    mcb9->faults.reply("SHOW_DATA_APP", {"XYabc"});
    EXPECT_EQ(rig.addin.GetAppData(9, 1, "@DESC", "def", szBuffer, sizeof szBuffer), 3);
    EXPECT_STREQ(szBuffer, "def");
    mcb9->faults.replies.clear();

    mcb9->faults.refuse("SET_DATA_APP", 4);
    EXPECT_FALSE(rig.addin.SetAppData(9, 1, "@DESC", "Right arm"));
    mcb9->faults.refusals.clear();
    EXPECT_EQ(rig.os.profileCalls, 0);
}

TEST_F(AppData, McbValuesThatDoNotFitTheCommandsAreRefused) {
    const std::string name31(31, 'n');
    const std::string name32(32, 'n');
    mcb9->clearLogs();
    rig.os.ClearTrace();
    EXPECT_EQ(rig.addin.GetAppData(9, 1, name31.c_str(), "d", szBuffer, sizeof szBuffer), 1);
    EXPECT_EQ(mcb9->timesReceived("SHOW_DATA_APP \"" + name31 + "\""), 1);
    EXPECT_EQ(rig.addin.GetAppData(9, 1, name32.c_str(), "d", szBuffer, sizeof szBuffer), 1);
    EXPECT_STREQ(szBuffer, "d");
    EXPECT_EQ(mcb9->received().size(), 1u);  // the one query

    // Name and value: 157 characters together fit, 158 do not.
    const std::string value126(126, 'v');
    EXPECT_TRUE(rig.addin.SetAppData(9, 1, name31.c_str(), value126.c_str()));
    EXPECT_EQ(mcb9->timesReceived("SET_DATA_APP \"" + name31 + "\",\"" + value126 + "\""), 1);
    EXPECT_FALSE(rig.addin.SetAppData(9, 1, name32.c_str(), value126.c_str()));
    EXPECT_FALSE(rig.addin.SetAppData(9, 1, "Quote", "say \"hi\""));
    EXPECT_FALSE(rig.addin.SetAppData(9, 1, "Lines", "one\r\ntwo"));
    EXPECT_FALSE(rig.addin.SetAppData(9, 1, "Removed", nullptr));
    EXPECT_EQ(mcb9->received().size(), 2u);
    // Refused quietly: named-value operations never trace.
    EXPECT_TRUE(rig.os.trace.empty());
}

TEST_F(AppData, LocksKeepTheNumberInTheTableAndTheOwnerInTheStoredText) {
    McbRecord& r12 = rig.Record(12);
    r12.dwLock[0] = 99;  // what start-up loaded; the stored text is not parsed again
    Ini()["m12s01"]["@lock"] = "17 Smith";
    std::strcpy(szBuffer, "old");
    EXPECT_EQ(rig.addin.GetLock(12, 1, szBuffer, sizeof szBuffer), 99u);
    EXPECT_STREQ(szBuffer, "Smith");
    EXPECT_EQ(rig.addin.GetLock(12, 1, szBuffer, 3), 99u);
    EXPECT_STREQ(szBuffer, "Sm");
    Ini()["m12s01"]["@lock"] = "5 3-abc";
    EXPECT_EQ(rig.addin.GetLock(12, 1, szBuffer, sizeof szBuffer), 99u);
    EXPECT_STREQ(szBuffer, "abc");
    // Separators are the "C" locale's: a byte from 0x80 up begins the owner.
    Ini()["m12s01"]["@lock"] = "5 \xB2nd shift";
    EXPECT_EQ(rig.addin.GetLock(12, 1, szBuffer, sizeof szBuffer), 99u);
    EXPECT_STREQ(szBuffer, "\xB2nd shift");
    Ini()["m12s01"]["@lock"] = "5\t[~]{|}@`:Ann";
    EXPECT_EQ(rig.addin.GetLock(12, 1, szBuffer, sizeof szBuffer), 99u);
    EXPECT_STREQ(szBuffer, "Ann");
    const int calls = rig.os.profileCalls;
    EXPECT_EQ(rig.addin.GetLock(12, 1, nullptr, 10), 99u);
    EXPECT_EQ(rig.addin.GetLock(12, 1, szBuffer, 0), 99u);
    EXPECT_EQ(rig.os.profileCalls, calls);  // no owner wanted: nothing read

    std::strcpy(szBuffer, "old");
    r12.dwLock[1] = 3;
    EXPECT_EQ(rig.addin.GetLock(12, 2, szBuffer, sizeof szBuffer), 3u);  // nothing stored
    EXPECT_STREQ(szBuffer, "old");
    EXPECT_EQ(rig.addin.GetLock(12, 5, szBuffer, sizeof szBuffer), 0u);
    EXPECT_STREQ(szBuffer, "old");

    rig.addin.SetLock(12, 2, 42, "Jones");
    EXPECT_EQ(r12.dwLock[1], 42u);
    EXPECT_EQ(Ini()["m12s02"]["@lock"], "42 Jones");
    EXPECT_EQ(rig.addin.GetLock(12, 2, szBuffer, sizeof szBuffer), 42u);
    EXPECT_STREQ(szBuffer, "Jones");
    rig.addin.SetLock(9, 1, 4294967295u, "Unit");
    EXPECT_EQ(mcb9->timesReceived("SET_DATA_APP \"@LOCK\",\"4294967295 Unit\""), 1);

    // The number changes even when its text cannot be stored.
    rig.os.failProfileWrite = true;
    rig.addin.SetLock(12, 2, 43, "Brown");
    EXPECT_EQ(r12.dwLock[1], 43u);
    rig.os.failProfileWrite = false;
    rig.addin.SetLock(12, 2, 44, std::string(130, 'o').c_str());
    EXPECT_EQ(r12.dwLock[1], 44u);
    EXPECT_EQ(Ini()["m12s02"]["@lock"], "42 Jones");

    const int before = rig.os.profileCalls;
    rig.addin.SetLock(12, 5, 1, "Nobody");
    rig.addin.SetLock(8, 1, 1, "Nobody");
    EXPECT_EQ(rig.os.profileCalls, before);
}

TEST_F(AppData, DescriptionsAndIdentifiersFallBackToGeneratedDefaults) {
    bool bDefault = false;
    EXPECT_TRUE(rig.addin.GetDescription(10, 1, szBuffer, sizeof szBuffer, &bDefault));
    EXPECT_STREQ(szBuffer, "MCB 10");
    EXPECT_TRUE(bDefault);
    EXPECT_TRUE(rig.addin.GetDescription(12, 2, szBuffer, sizeof szBuffer, &bDefault));
    EXPECT_STREQ(szBuffer, "MCB 12 Input 2");
    EXPECT_TRUE(rig.addin.GetDescription(12, 2, szBuffer, 6, nullptr));
    EXPECT_STREQ(szBuffer, "MCB 1");
    bDefault = false;
    EXPECT_FALSE(rig.addin.GetDescription(12, 5, szBuffer, sizeof szBuffer, &bDefault));
    EXPECT_STREQ(szBuffer, "Invalid Detector");
    EXPECT_TRUE(bDefault);
    Ini()["m12s03"]["@desc"] = "Left arm";
    EXPECT_TRUE(rig.addin.GetDescription(12, 3, szBuffer, sizeof szBuffer, &bDefault));
    EXPECT_STREQ(szBuffer, "Left arm");
    EXPECT_FALSE(bDefault);
    // An empty stored value is no description.
    ASSERT_TRUE(rig.addin.SetAppData(9, 1, "@DESC", ""));
    EXPECT_TRUE(rig.addin.GetDescription(9, 1, szBuffer, sizeof szBuffer, &bDefault));
    EXPECT_STREQ(szBuffer, "MCB 9 Input 1");
    EXPECT_TRUE(bDefault);

    std::uint32_t dwId = 0;
    EXPECT_TRUE(rig.addin.GetDetectorId(11, 3, &dwId, &bDefault));
    EXPECT_EQ(dwId, 1103u);
    EXPECT_TRUE(bDefault);
    EXPECT_TRUE(rig.addin.GetDetectorId(16, 12, &dwId, &bDefault));
    EXPECT_EQ(dwId, 1612u);
    ASSERT_TRUE(rig.addin.SetAppData(9, 1, "@ID", ""));
    EXPECT_TRUE(rig.addin.GetDetectorId(9, 1, &dwId, &bDefault));
    EXPECT_EQ(dwId, 901u);
    EXPECT_TRUE(bDefault);
    struct Case {
        const char* stored;
        std::uint32_t id;
    };
    for (const Case& c : {Case{"abc", 0u}, Case{" 77x", 77u}, Case{"4294967296", 4294967295u}}) {
        SCOPED_TRACE(c.stored);
        Ini()["m11s03"]["@id"] = c.stored;
        bDefault = true;
        EXPECT_TRUE(rig.addin.GetDetectorId(11, 3, &dwId, &bDefault));
        EXPECT_EQ(dwId, c.id);
        EXPECT_FALSE(bDefault);
    }
    dwId = 5;
    bDefault = false;
    EXPECT_FALSE(rig.addin.GetDetectorId(11, 4, &dwId, &bDefault));
    EXPECT_EQ(dwId, 0u);
    EXPECT_TRUE(bDefault);
}

}  // namespace

// Profile files: the Windows read and write semantics the add-in relies on,
// and writes that survive crashes and concurrent writers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/ini_text.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/profile.h"
#include "posix/temp_dir.h"

namespace {

using platform::posix::IniText;
using platform::posix::ParseProfileInt;
using platform::posix::PosixOs;
using kestrel_test::ReadText;
using kestrel_test::TempDir;
using kestrel_test::WriteText;

constexpr const char* kIni = "HVNACC32.INI";

class ProfileTest : public ::testing::Test {
protected:
    std::string Read(const char* section, const char* key, const char* fallback = "dflt",
                     std::uint32_t size = 128) {
        std::vector<char> buffer(size + 1, '#');
        std::uint32_t length = os.ProfileString(section, key, fallback, buffer.data(), size, kIni);
        EXPECT_EQ(buffer[length], '\0');
        EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
        return std::string(buffer.data(), length);
    }

    TempDir dir;
    PosixOs os{dir.path()};
};

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Read("CONFIG", "LPT"), "dflt");
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", 7, kIni), 7u);
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", -3, kIni), static_cast<std::uint32_t>(-3));
    WriteText(dir / kIni, "[CONFIG]\nLPT=2\n");
    EXPECT_EQ(Read("OTHER", "LPT"), "dflt");
    EXPECT_EQ(Read("CONFIG", "PORT"), "dflt");
    EXPECT_EQ(Read("CONFIG", "PORT", nullptr), "");
    // Trailing blanks of a default are dropped, as on Windows.
    EXPECT_EQ(Read("CONFIG", "PORT", "abc  "), "abc");
}

TEST_F(ProfileTest, NamesCompareWithoutCaseAndBlanksAreNotPartOfThem) {
    WriteText(dir / kIni, "; comment\r\n[ Config ]\r\n  Lpt =  3 \r\n[M9S01]\r\n@DESC=\"quoted text\"\r\n");
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", 0, kIni), 3u);
    EXPECT_EQ(Read("config", "lpt"), "3");
    EXPECT_EQ(Read("m9s01", "@desc"), "quoted text");
    // A name written with blanks around it is found with or without them.
    EXPECT_TRUE(os.ProfileWrite(" M9S02 ", " x ", "v", kIni));
    EXPECT_EQ(Read("M9S02", "x"), "v");
    EXPECT_EQ(Read(" m9s02", " X "), "v");
}

TEST_F(ProfileTest, LongValuesAreCutToTheBuffer) {
    WriteText(dir / kIni, "[S]\nK=0123456789\n");
    EXPECT_EQ(Read("S", "K", "", 5), "0123");
    EXPECT_EQ(Read("S", "K", "", 11), "0123456789");
    EXPECT_EQ(Read("S", "X", "defaultvalue", 4), "def");
    char untouched = '#';
    EXPECT_EQ(os.ProfileString("S", "K", "", &untouched, 0, kIni), 0u);
    EXPECT_EQ(untouched, '#');
}

TEST_F(ProfileTest, IntegersAreReadAsWindowsReadsThem) {
    EXPECT_EQ(ParseProfileInt("42"), 42u);
    EXPECT_EQ(ParseProfileInt("  17abc"), 17u);
    EXPECT_EQ(ParseProfileInt("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseProfileInt("0x1F"), 31u);
    EXPECT_EQ(ParseProfileInt("abc"), 0u);
    WriteText(dir / kIni, "[CONFIG]\nLPT=\nPORT=x\n");
    // An empty value reads as missing; a value without digits as 0.
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", 9, kIni), 9u);
    EXPECT_EQ(os.ProfileInt("CONFIG", "PORT", 9, kIni), 0u);
}

TEST_F(ProfileTest, NullSectionOrKeyListsTheNames) {
    WriteText(dir / kIni, "[A]\nx=1\ny=2\n[B]\nz=3\n");
    char buffer[32];
    std::uint32_t length = os.ProfileString(nullptr, nullptr, "", buffer, sizeof buffer, kIni);
    EXPECT_EQ(std::string(buffer, length + 1), std::string("A\0B\0\0", 5));
    length = os.ProfileString("A", nullptr, "", buffer, sizeof buffer, kIni);
    EXPECT_EQ(std::string(buffer, length + 1), std::string("x\0y\0\0", 5));
    // Cut lists still end in two NULs and report size - 2.
    length = os.ProfileString("A", nullptr, "", buffer, 3, kIni);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(std::string(buffer, 3), std::string("x\0\0", 3));
}

TEST_F(ProfileTest, WritesCreateReplaceAndRemove) {
    ASSERT_TRUE(os.ProfileWrite("M9S01", "@LOCK", "1234", kIni));  // creates the file
    EXPECT_EQ(Read("M9S01", "@LOCK"), "1234");
    ASSERT_TRUE(os.ProfileWrite("m9s01", "@lock", "5678", kIni));  // same key, other case
    EXPECT_EQ(Read("M9S01", "@LOCK"), "5678");
    ASSERT_TRUE(os.ProfileWrite("M9S01", "@DESC", "first detector", kIni));
    ASSERT_TRUE(os.ProfileWrite("M10S02", "@LOCK", "9", kIni));
    EXPECT_EQ(IniText(ReadText(dir / kIni)).Keys("M9S01"),
              (std::vector<std::string>{"@lock", "@DESC"}));

    ASSERT_TRUE(os.ProfileWrite("M9S01", "@LOCK", nullptr, kIni));  // null value: key goes
    EXPECT_EQ(Read("M9S01", "@LOCK"), "dflt");
    EXPECT_EQ(Read("M9S01", "@DESC"), "first detector");
    ASSERT_TRUE(os.ProfileWrite("M9S01", nullptr, nullptr, kIni));  // null key: section goes
    EXPECT_EQ(Read("M9S01", "@DESC"), "dflt");
    EXPECT_EQ(Read("M10S02", "@LOCK"), "9");
}

TEST_F(ProfileTest, WritesKeepWhatTheyDoNotTouch) {
    WriteText(dir / kIni, "; set by the installer\n[CONFIG]\nLPT=1\n\n[M9S01]\n@ID=77\n");
    ASSERT_TRUE(os.ProfileWrite("CONFIG", "DEBUG", "3", kIni));
    std::string text = ReadText(dir / kIni);
    EXPECT_NE(text.find("; set by the installer"), std::string::npos);
    EXPECT_EQ(Read("CONFIG", "LPT"), "1");
    EXPECT_EQ(Read("CONFIG", "DEBUG"), "3");
    EXPECT_EQ(Read("M9S01", "@ID"), "77");
    // A value is one line: a line break cannot smuggle in a key.
    ASSERT_TRUE(os.ProfileWrite("CONFIG", "NOTE", "a\n[EVIL]\nk=v", kIni));
    EXPECT_EQ(Read("CONFIG", "NOTE"), "a");
    EXPECT_EQ(Read("EVIL", "k"), "dflt");
}

TEST_F(ProfileTest, BareNamesLiveInTheWindowsDirectoryAndPathsWhereTheySay) {
    TempDir elsewhere;
    std::string full = elsewhere / "OTHER.INI";
    ASSERT_TRUE(os.ProfileWrite("S", "K", "v", full.c_str()));
    EXPECT_NE(ReadText(full).find("K=v"), std::string::npos);
    ASSERT_TRUE(os.ProfileWrite("S", "K", "w", "OTHER.INI"));
    EXPECT_NE(ReadText(dir / "OTHER.INI").find("K=w"), std::string::npos);
    EXPECT_NE(ReadText(full).find("K=v"), std::string::npos);
}

TEST_F(ProfileTest, AFailedWriteLeavesTheFileAndSaysWhy) {
    // A directory in the file's place: nothing can be renamed over it.
    ASSERT_EQ(::mkdir((dir / "BLOCKED.INI").c_str(), 0755), 0);
    EXPECT_FALSE(os.ProfileWrite("S", "K", "v", "BLOCKED.INI"));
    EXPECT_NE(os.LastError(), 0u);
    EXPECT_FALSE(os.ProfileWrite(nullptr, "K", "v", kIni));
}

}  // namespace

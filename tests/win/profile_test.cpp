// Profile (INI) files through the Win32 profile calls.
#include <gtest/gtest.h>

#include <cstring>

#include "win/child.h"

namespace wintest {
namespace {

class Win32Profile : public ::testing::Test {
protected:
    void SetUp() override {
        char szDir[MAX_PATH];
        char szFile[MAX_PATH];
        ASSERT_NE(::GetTempPathA(sizeof szDir, szDir), 0u);
        ASSERT_NE(::GetTempFileNameA(szDir, "kes", 0, szFile), 0u);
        file_ = szFile;
    }
    void TearDown() override { ::DeleteFileA(file_.c_str()); }

    std::string Read(const char* section, const char* key, const char* defaultValue,
                     std::uint32_t size = 64) {
        std::vector<char> buffer(size, '#');
        std::uint32_t length =
            os_.ProfileString(section, key, defaultValue, buffer.data(), size, file_.c_str());
        std::string text(buffer.data());
        EXPECT_EQ(length, text.size()) << "the count must match the stored text";
        return text;
    }

    platform::Os& os_ = platform::NativeOs();
    std::string file_;
};

TEST_F(Win32Profile, WrittenValuesReadBackAsTextAndNumber) {
    ASSERT_TRUE(os_.ProfileWrite("CONFIG", "LPT", "2", file_.c_str()));
    ASSERT_TRUE(os_.ProfileWrite("M9S01", "@DESC", "Well counter", file_.c_str()));
    EXPECT_EQ(os_.ProfileInt("CONFIG", "LPT", 0, file_.c_str()), 2u);
    EXPECT_EQ(Read("M9S01", "@DESC", ""), "Well counter");
    // Keys are looked up without regard to case.
    EXPECT_EQ(Read("m9s01", "@desc", ""), "Well counter");

    ASSERT_TRUE(os_.ProfileWrite("CONFIG", "LPT", "3", file_.c_str()));
    EXPECT_EQ(os_.ProfileInt("CONFIG", "LPT", 0, file_.c_str()), 3u);
}

TEST_F(Win32Profile, MissingKeysGiveTheDefault) {
    ASSERT_TRUE(os_.ProfileWrite("CONFIG", "LPT", "1", file_.c_str()));
    EXPECT_EQ(os_.ProfileInt("CONFIG", "PORT", 7, file_.c_str()), 7u);
    EXPECT_EQ(os_.ProfileInt("OTHER", "LPT", 5, file_.c_str()), 5u);
    EXPECT_EQ(Read("CONFIG", "NAME", "none"), "none");
    EXPECT_EQ(Read("CONFIG", "NAME", nullptr), "");
    EXPECT_EQ(os_.ProfileInt("CONFIG", "LPT", 0, (file_ + ".missing").c_str()), 0u);
}

TEST_F(Win32Profile, NullValueRemovesOnlyThatKey) {
    ASSERT_TRUE(os_.ProfileWrite("M10S02", "@LOCK", "1234", file_.c_str()));
    ASSERT_TRUE(os_.ProfileWrite("M10S02", "@ID", "77", file_.c_str()));
    ASSERT_TRUE(os_.ProfileWrite("M10S02", "@LOCK", nullptr, file_.c_str()));
    EXPECT_EQ(Read("M10S02", "@LOCK", "gone"), "gone");
    EXPECT_EQ(Read("M10S02", "@ID", ""), "77");
}

TEST_F(Win32Profile, LongValuesAreCutToTheBuffer) {
    ASSERT_TRUE(os_.ProfileWrite("S", "K", "abcdefgh", file_.c_str()));
    EXPECT_EQ(Read("S", "K", "", 4), "abc");
    EXPECT_EQ(Read("S", "K", "", 9), "abcdefgh");
}

TEST(Win32ProfileLocation, BareFileNameLivesInTheWindowsDirectory) {
    platform::Os& os = platform::NativeOs();
    const std::string name = UniqueName("KESTREL") + ".INI";
    char szDir[MAX_PATH];
    ASSERT_NE(::GetWindowsDirectoryA(szDir, sizeof szDir), 0u);
    const std::string path = std::string(szDir) + "\\" + name;

    ASSERT_TRUE(os.ProfileWrite("CONFIG", "LPT", "4", name.c_str()));
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", 0, path.c_str()), 4u);
    EXPECT_NE(::GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    ::DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace wintest

// What only the POSIX layer has to show beyond the platform contract: the
// INI text it reads and writes itself, and the error texts it carries.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "platform/place.h"
#include "platform/posix/errors.h"
#include "platform/posix/profile.h"

namespace {

TEST(PosixExtras, ProfileTextFormsAndFailedWrites) {
    auto place = contract::NewPlace();
    platform::Os& os = place->Os();
    const std::string ini = place->PrivateFile("HVNACC32.INI");
    std::ofstream(ini) << "; kept\r\n[ Config ]\r\n  Lpt =  3 \r\n[M9S01]\r\n@DESC=\"quoted\"\r\n";
    char text[32];
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", 0, ini.c_str()), 3u);
    EXPECT_EQ(os.ProfileString(" m9s01 ", " @desc", "", text, sizeof text, ini.c_str()), 6u);
    EXPECT_STREQ(text, "quoted");
    // A value is one line: a line break cannot smuggle in a key.
    ASSERT_TRUE(os.ProfileWrite("CONFIG", "NOTE", "a\n[EVIL]\nk=v", ini.c_str()));
    EXPECT_EQ(os.ProfileString("EVIL", "k", "none", text, sizeof text, ini.c_str()), 4u);
    std::ifstream in(ini);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}).find("; kept"), 0u);
    // A cut list still ends in two NULs.
    EXPECT_EQ(os.ProfileString("CONFIG", nullptr, "", text, 3, ini.c_str()), 1u);
    EXPECT_EQ(std::string(text, 3), std::string("L\0\0", 3));
    EXPECT_EQ(platform::posix::ParseProfileInt("0x1F"), 31u);
    EXPECT_EQ(platform::posix::ParseProfileInt("-1"), 0xFFFFFFFFu);
    // A directory in the file's place: nothing can be renamed over it.
    const std::string blocked = place->PrivateFile("BLOCKED.INI");
    ASSERT_EQ(::mkdir(blocked.c_str(), 0755), 0);
    os.SetLastError(0);
    EXPECT_FALSE(os.ProfileWrite("S", "K", "v", blocked.c_str()));
    EXPECT_NE(os.LastError(), 0u);
    EXPECT_FALSE(os.ProfileWrite(nullptr, "K", "v", ini.c_str()));
}

TEST(PosixExtras, RegistryHexAndErrorTexts) {
    auto place = contract::NewPlace();
    place->PutRegistryValue("SOFTWARE\\K", "Good", {1});
    std::ofstream(place->WindowsDirFile("registry.txt"), std::ios::app) << "Broken = 0g 11\n";
    platform::RegKey key = place->Os().RegOpen(nullptr, "SOFTWARE\\K");
    std::uint8_t data[4];
    std::uint32_t size = sizeof data;
    EXPECT_TRUE(place->Os().RegQuery(key, "Good", data, &size));
    EXPECT_FALSE(place->Os().RegQuery(key, "Broken", data, &size));  // not hex: not a value
    place->Os().RegClose(key);

    using namespace platform::posix;
    char buffer[64];
    EXPECT_EQ(FormatSystemMessage(2, buffer, sizeof buffer), 42u);
    EXPECT_STREQ(buffer, "The system cannot find the file specified.");
    std::memset(buffer, 'x', sizeof buffer);
    SetLastError(2);
    EXPECT_EQ(FormatSystemMessage(2, buffer, 10), 0u);  // does not fit
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(LastError(), 2u) << "fetching a text must not disturb the number beside it";
    EXPECT_EQ(Win32FromErrno(ECONNREFUSED), 2u);  // a device nobody serves
    for (int value = 0; value < 140; ++value)
        EXPECT_NE(SystemMessage(Win32FromErrno(value)), nullptr) << "errno " << value;
}

}  // namespace

// What only the POSIX layer has to show beyond the contract: the INI and
// registry text it reads and writes itself, and the error texts it carries.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "platform/posix/contract_place.h"
#include "platform/posix/errors.h"
#include "platform/posix/profile.h"

namespace {

TEST(PosixExtras, ProfileAndRegistryTextFormsFailedWritesAndErrorTexts) {
    Place place;
    platform::Os& os = place.os;
    const std::string ini = place.WindowsDirFile("HVNACC32.INI");
    std::ofstream(ini) << "; kept\r\n[ Config ]\r\n  Lpt =  3 \r\n[M9S01]\r\n@DESC=\"quoted\"\r\n";
    char text[32];
    EXPECT_EQ(os.ProfileString(" m9s01 ", " @desc", "", text, sizeof text, ini.c_str()), 6u);
    EXPECT_STREQ(text, "quoted");
    ASSERT_TRUE(os.ProfileWrite("CONFIG", "NOTE", "a\n[EVIL]\nk=v", ini.c_str()));  // one line
    EXPECT_EQ(os.ProfileString("EVIL", "k", "none", text, sizeof text, ini.c_str()), 4u);
    EXPECT_EQ(os.ProfileString("CONFIG", nullptr, "", text, 3, ini.c_str()), 1u);  // a cut list
    EXPECT_EQ(std::string(text, 3), std::string("L\0\0", 3));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(ini).rdbuf()), {}).find("; kept"), 0u);
    EXPECT_EQ(platform::posix::ParseProfileInt("0x1F"), 31u);
    EXPECT_EQ(platform::posix::ParseProfileInt("-1"), 0xFFFFFFFFu);
    const std::string blocked = place.WindowsDirFile("BLOCKED.INI");  // nothing renames over a directory
    ASSERT_EQ(::mkdir(blocked.c_str(), 0755), 0);
    EXPECT_FALSE(os.ProfileWrite("S", "K", "v", blocked.c_str()));
    EXPECT_NE(os.LastError(), 0u);
    EXPECT_FALSE(os.ProfileWrite(nullptr, "K", "v", ini.c_str()));
    EXPECT_NE(os.HostFunction("strlen"), nullptr);  // the loading program's functions are found
    EXPECT_EQ(os.HostFunction(nullptr), nullptr);

    place.PutRegistryValue("SOFTWARE\\K", "Good", {1});
    std::ofstream(place.WindowsDirFile("registry.txt"), std::ios::app) << "Broken = 0g 11\n";
    platform::RegKey key = os.RegOpen(nullptr, "SOFTWARE\\K");
    std::uint32_t size = sizeof text;
    EXPECT_TRUE(os.RegQuery(key, "Good", reinterpret_cast<std::uint8_t*>(text), &size));
    EXPECT_FALSE(os.RegQuery(key, "Broken", reinterpret_cast<std::uint8_t*>(text), &size));
    os.RegClose(key);

    using namespace platform::posix;
    char buffer[64] = "x";
    EXPECT_EQ(FormatSystemMessage(2, buffer, sizeof buffer), 42u);
    EXPECT_STREQ(buffer, "The system cannot find the file specified.");
    buffer[0] = 'x';
    SetLastError(2);
    EXPECT_EQ(FormatSystemMessage(2, buffer, 10), 0u);  // does not fit
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(LastError(), 2u) << "fetching a text must not disturb the number beside it";
    EXPECT_EQ(Win32FromErrno(ECONNREFUSED), 2u);  // a device nobody serves
    for (int value = 0; value < 140; ++value) EXPECT_NE(SystemMessage(Win32FromErrno(value)), nullptr) << value;
}

}  // namespace

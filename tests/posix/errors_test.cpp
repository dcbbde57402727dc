// Error numbers and texts as the add-in shows them in its trace.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/posix/errors.h"

namespace {

using namespace platform::posix;

TEST(PosixErrors, ErrnoValuesMapToTheNumbersWindowsReports) {
    EXPECT_EQ(Win32FromErrno(ENOENT), 2u);
    EXPECT_EQ(Win32FromErrno(ECONNREFUSED), 2u);  // a device nobody serves
    EXPECT_EQ(Win32FromErrno(ENOTDIR), 3u);
    EXPECT_EQ(Win32FromErrno(EACCES), 5u);
    EXPECT_EQ(Win32FromErrno(EPERM), 5u);
    EXPECT_EQ(Win32FromErrno(EBADF), 6u);
    EXPECT_EQ(Win32FromErrno(EPIPE), 109u);
    EXPECT_EQ(Win32FromErrno(ENOSPC), 112u);
    EXPECT_EQ(Win32FromErrno(ENAMETOOLONG), 206u);
    EXPECT_EQ(Win32FromErrno(0), 0u);
    // Whatever errno comes, the number has a text to show.
    for (int value = 0; value < 140; ++value)
        EXPECT_NE(SystemMessage(Win32FromErrno(value)), nullptr) << "errno " << value;
}

TEST(PosixErrors, LastErrorBelongsToTheCallingThread) {
    SetLastError(5);
    std::thread other([] {
        EXPECT_EQ(LastError(), 0u);
        SetLastError(2);
        EXPECT_EQ(LastError(), 2u);
    });
    other.join();
    EXPECT_EQ(LastError(), 5u);
    EXPECT_EQ(SetLastErrorFromErrno(ENOENT), 2u);
    EXPECT_EQ(LastError(), 2u);
}

TEST(PosixErrors, SystemTextIsOneLineWithoutLineEnd) {
    // The errors a failed driver open can show fit the add-in's buffer.
    for (std::uint32_t error : {2u, 3u, 5u, 6u, 8u, 206u})
        EXPECT_LT(std::strlen(SystemMessage(error)), 64u) << error;
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    std::uint32_t length = FormatSystemMessage(2, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "The system cannot find the file specified.");
    EXPECT_EQ(length, std::strlen(buffer));
    for (std::uint32_t error = 0; error < 20000; ++error) {
        const char* text = SystemMessage(error);
        if (text == nullptr) continue;
        EXPECT_EQ(std::strpbrk(text, "\r\n"), nullptr) << error;
        EXPECT_GT(std::strlen(text), 0u) << error;
    }
}

TEST(PosixErrors, NoTextLeavesTheBufferUntouched) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(FormatSystemMessage(0xDEAD, buffer, sizeof buffer), 0u);  // unknown number
    EXPECT_EQ(FormatSystemMessage(2, buffer, 0), 0u);                   // size 0
    EXPECT_EQ(FormatSystemMessage(2, buffer, 10), 0u);                  // does not fit
    for (char c : buffer) EXPECT_EQ(c, 'x');
    // Fetching the text must not disturb the number reported next to it.
    SetLastError(2);
    FormatSystemMessage(0xDEAD, buffer, sizeof buffer);
    EXPECT_EQ(LastError(), 2u);
}

}  // namespace

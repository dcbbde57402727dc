// Error texts, time, the OS family, the driver calls and the host lookup.
#include <gtest/gtest.h>

#include <cstring>

#include "win/child.h"

extern "C" __declspec(dllexport) int KestrelTestHostExport() { return 42; }

namespace wintest {
namespace {

platform::Os& Os() { return platform::NativeOs(); }

TEST(Win32ErrorText, KnownErrorIsOneLineWithoutLineEnd) {
    char szText[256];
    std::uint32_t length = Os().FormatSystemMessage(ERROR_FILE_NOT_FOUND, szText, sizeof szText);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(szText), length);
    EXPECT_EQ(std::strpbrk(szText, "\r\n"), nullptr) << szText;
}

TEST(Win32ErrorText, UnknownErrorOrNoBufferGivesNothingAndLeavesTheBuffer) {
    char szText[64];
    std::memset(szText, '#', sizeof szText);
    EXPECT_EQ(Os().FormatSystemMessage(0x2000BEEF, szText, sizeof szText), 0u);
    EXPECT_EQ(szText[0], '#');
    EXPECT_EQ(Os().FormatSystemMessage(ERROR_FILE_NOT_FOUND, szText, 0), 0u);
    EXPECT_EQ(szText[0], '#');
}

TEST(Win32ErrorText, LastErrorIsTheThreadsOwn) {
    Os().SetLastError(1234);
    std::uint32_t otherThreads = 0;
    HANDLE thread = ::CreateThread(
        nullptr, 0,
        [](void* out) -> DWORD {
            ::SetLastError(5);
            *static_cast<std::uint32_t*>(out) = platform::NativeOs().LastError();
            return 0;
        },
        &otherThreads, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    EXPECT_EQ(Os().LastError(), 1234u);
    EXPECT_EQ(otherThreads, 5u);
}

TEST(Win32Time, SleepAdvancesTheTickCount) {
    // The counter moves in steps of up to about 16 ms.
    std::uint32_t start = Os().TickCount();
    Os().SleepMs(200);
    std::uint32_t elapsed = Os().TickCount() - start;
    EXPECT_GE(elapsed, 160u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(Win32Time, NowIsTheSystemClockInSecondsSince1970) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    // 100 ns units since 1601-01-01; 11644473600 seconds to 1970-01-01.
    std::int64_t ticks = static_cast<std::int64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    std::int64_t seconds = ticks / 10000000 - 11644473600LL;
    EXPECT_NEAR(static_cast<double>(Os().TimeNow()), static_cast<double>(seconds), 2.0);
}

TEST(Win32Platform, ReportsTheNtFamily) { EXPECT_EQ(Os().PlatformId(), platform::kPlatformNt); }

TEST(Win32Driver, MissingDevicesFailToOpenWithAReason) {
    Os().SetLastError(0);
    std::intptr_t nt = Os().DriverOpen("\\\\.\\TarnDev", 0xC0000000, 3, OPEN_EXISTING, 0);
    EXPECT_EQ(nt, platform::kInvalidHandle);
    std::uint32_t error = Os().LastError();
    EXPECT_NE(error, 0u);
    char szText[64];
    EXPECT_GT(Os().FormatSystemMessage(error, szText, sizeof szText), 0u);

    // The Windows 95 driver's open parameters are not valid on the NT family.
    Os().SetLastError(0);
    std::intptr_t vxd = Os().DriverOpen("\\\\.\\KMZ01D.VXD", 0, 0, 0, FILE_FLAG_DELETE_ON_CLOSE);
    EXPECT_EQ(vxd, platform::kInvalidHandle);
    EXPECT_NE(Os().LastError(), 0u);
}

TEST(Win32Driver, ControlRequestOnAnOrdinaryFileIsRefused) {
    char szDir[MAX_PATH];
    char szFile[MAX_PATH];
    ASSERT_NE(::GetTempPathA(sizeof szDir, szDir), 0u);
    ASSERT_NE(::GetTempFileNameA(szDir, "kes", 0, szFile), 0u);
    std::intptr_t file = Os().DriverOpen(szFile, 0xC0000000, 3, OPEN_EXISTING, 0);
    ASSERT_NE(file, platform::kInvalidHandle);

    std::uint32_t address = 0x378;
    std::uint32_t returned = 99;
    EXPECT_FALSE(Os().DriverIoctl(file, 0x9C402400, &address, 4, &address, 4, &returned));
    EXPECT_EQ(returned, 0u);
    Os().DriverClose(file);
    EXPECT_NE(::DeleteFileA(szFile), FALSE) << "the handle was not closed";
}

TEST(Win32Host, FindsTheLoadingProgramsExportsOnly) {
    void* found = Os().HostFunction("KestrelTestHostExport");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(reinterpret_cast<int (*)()>(found)(), 42);
    EXPECT_EQ(Os().HostFunction("LocalGuessFeatures"), nullptr);
}

}  // namespace
}  // namespace wintest

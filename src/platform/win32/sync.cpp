// Named mutex, time and debug output.
#include <ctime>

#include "platform/win32/win32_os.h"

namespace platform {

MutexHandle Win32Os::MutexCreate(const char* name) {
    // Not initially owned; opens the existing mutex when another process
    // created one of this name.
    return ::CreateMutexA(nullptr, FALSE, name);
}

WaitResult Win32Os::MutexWait(MutexHandle mutex) {
    switch (::WaitForSingleObject(mutex, INFINITE)) {
    case WAIT_OBJECT_0:
        return WaitResult::Acquired;
    case WAIT_ABANDONED:
        return WaitResult::Abandoned;
    default:
        return WaitResult::Failed;
    }
}

bool Win32Os::MutexRelease(MutexHandle mutex) { return ::ReleaseMutex(mutex) != FALSE; }

void Win32Os::MutexClose(MutexHandle mutex) { ::CloseHandle(mutex); }

std::uint32_t Win32Os::TickCount() { return ::GetTickCount(); }

void Win32Os::SleepMs(std::uint32_t ms) { ::Sleep(ms); }

std::int64_t Win32Os::TimeNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

void Win32Os::DebugOutput(const char* text) { ::OutputDebugStringA(text); }

std::uint32_t Win32Os::LastError() { return ::GetLastError(); }

void Win32Os::SetLastError(std::uint32_t error) { ::SetLastError(error); }

std::uint32_t Win32Os::FormatSystemMessage(std::uint32_t error, char* buffer, int size) {
    // FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK: the system
    // text on one line, without a line end. Language 0x400: the user's
    // default. A buffer of no size is never handed to the system.
    constexpr DWORD kFlags = 0x10FF;
    constexpr DWORD kUserDefaultLanguage = 0x400;
    if (size <= 0) return 0;
    return ::FormatMessageA(kFlags, nullptr, error, kUserDefaultLanguage, buffer,
                            static_cast<DWORD>(size), nullptr);
}

}  // namespace platform

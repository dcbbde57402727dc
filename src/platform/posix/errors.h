// Win32-style error numbers on POSIX (the calling thread's last error, the
// translation of errno values, the system's text for a number) and the
// debugger output they are reported on.
#pragma once

#include <cstdint>

namespace platform {
namespace posix {

// Win32 error numbers this layer reports.
constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorNotReady = 21;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorBrokenPipe = 109;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorBusy = 170;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint32_t kErrorNotOwner = 288;
constexpr std::uint32_t kErrorIoDevice = 1117;
constexpr std::uint32_t kErrorTimeout = 1460;

std::uint32_t LastError();
void SetLastError(std::uint32_t error);

// The Win32 number for an errno value, as the Windows call that the POSIX
// call stands in for would report it.
std::uint32_t Win32FromErrno(int errnoValue);
// Sets the last error from errno (translated); returns the Win32 number.
std::uint32_t SetLastErrorFromErrno(int errnoValue);

// The one-line text of a Win32 error number; null when there is none.
const char* SystemMessage(std::uint32_t error);
// As FormatMessageA(FROM_SYSTEM | MAX_WIDTH_MASK): the characters stored
// (terminator excluded), or 0 with the buffer untouched when there is no
// text or it does not fit.
std::uint32_t FormatSystemMessage(std::uint32_t error, char* buffer, int size);

// The debugger output of this platform: standard error, unbuffered, each
// text in one write so lines of concurrent processes do not interleave.
void DebugWrite(const char* text);

}  // namespace posix
}  // namespace platform

#include "platform/posix/errors.h"

#include <cerrno>
#include <cstring>

namespace platform {
namespace posix {
namespace {

thread_local std::uint32_t t_lastError = kErrorSuccess;

struct Message {
    std::uint32_t error;
    const char* text;
};

// The texts of the numbers this layer can report, one line each.
constexpr Message kMessages[] = {
    {kErrorSuccess, "The operation completed successfully."},
    {kErrorInvalidFunction, "Incorrect function."},
    {kErrorFileNotFound, "The system cannot find the file specified."},
    {kErrorPathNotFound, "The system cannot find the path specified."},
    {kErrorAccessDenied, "Access is denied."},
    {kErrorInvalidHandle, "The handle is invalid."},
    {kErrorNotEnoughMemory, "Not enough storage is available to process this command."},
    {kErrorInvalidData, "The data is invalid."},
    {kErrorNotReady, "The device is not ready."},
    {kErrorGenFailure, "A device attached to the system is not functioning."},
    {kErrorSharingViolation,
     "The process cannot access the file because it is being used by another process."},
    {kErrorInvalidParameter, "The parameter is incorrect."},
    {kErrorBrokenPipe, "The pipe has been ended."},
    {kErrorDiskFull, "There is not enough space on the disk."},
    {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
    {kErrorBusy, "The requested resource is in use."},
    {kErrorAlreadyExists, "Cannot create a file when that file already exists."},
    {kErrorFilenameTooLong, "The filename or extension is too long."},
    {kErrorMoreData, "More data is available."},
    {kErrorNotOwner, "Attempt to release mutex not owned by caller."},
    {kErrorIoDevice, "The request could not be performed because of an I/O device error."},
    {kErrorTimeout, "This operation returned because the timeout period expired."},
};

}  // namespace

std::uint32_t LastError() { return t_lastError; }

void SetLastError(std::uint32_t error) { t_lastError = error; }

std::uint32_t Win32FromErrno(int errnoValue) {
    switch (errnoValue) {
        case 0: return kErrorSuccess;
        // A device path nobody serves is a missing device, as on Windows.
        case ENOENT:
        case ECONNREFUSED:
        case ENXIO:
        case ENODEV: return kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS: return kErrorAccessDenied;
        case EBADF:
        case ENOTSOCK: return kErrorInvalidHandle;
        case ENOMEM:
        case EMFILE:
        case ENFILE: return kErrorNotEnoughMemory;
        case EPIPE:
        case ECONNRESET: return kErrorBrokenPipe;
        case ENOSPC:
        case EDQUOT: return kErrorDiskFull;
        case EAGAIN:
        case EBUSY: return kErrorBusy;
        case EEXIST: return kErrorAlreadyExists;
        case ENAMETOOLONG: return kErrorFilenameTooLong;
        case ETIMEDOUT: return kErrorTimeout;
        case EINVAL: return kErrorInvalidParameter;
        case EIO: return kErrorIoDevice;
        default: return kErrorGenFailure;
    }
}

std::uint32_t SetLastErrorFromErrno(int errnoValue) {
    std::uint32_t error = Win32FromErrno(errnoValue);
    t_lastError = error;
    return error;
}

const char* SystemMessage(std::uint32_t error) {
    for (const Message& message : kMessages)
        if (message.error == error) return message.text;
    return nullptr;
}

// The last error is left alone, also when there is no text: callers fetch
// the text first and report the number afterwards.
std::uint32_t FormatSystemMessage(std::uint32_t error, char* buffer, int size) {
    const char* text = SystemMessage(error);
    if (text == nullptr || buffer == nullptr || size <= 0) return 0;
    std::size_t length = std::strlen(text);
    if (length + 1 > static_cast<std::size_t>(size)) return 0;
    std::memcpy(buffer, text, length + 1);
    return static_cast<std::uint32_t>(length);
}

}  // namespace posix
}  // namespace platform

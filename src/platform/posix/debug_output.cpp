#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/errors.h"

namespace platform {
namespace posix {

void DebugWrite(const char* text) {
    if (text == nullptr) return;
    std::size_t left = std::strlen(text);
    // Writing must not change what the caller reads as errno afterwards.
    int savedErrno = errno;
    while (left > 0) {
        ssize_t written = ::write(STDERR_FILENO, text, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            break;
        }
        text += written;
        left -= static_cast<std::size_t>(written);
    }
    errno = savedErrno;
}

}  // namespace posix
}  // namespace platform

#include "kestrel/driver_path.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrel_tool {

std::string DefaultWindowsDirectory() {
    const char* windir = std::getenv("WINDIR");
    if (windir != nullptr && *windir != '\0') return windir;
    return "/var/lib/hvnacc32";
}

std::string DriverSocketPath(const std::string& windir) { return windir + "/dev/TarnDev"; }

bool DriverServiceAnswers(const std::string& windir, std::string* reason) {
    std::string path = DriverSocketPath(windir);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    errno = ENAMETOOLONG;
    int fd = path.size() < sizeof address.sun_path ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    bool answers = false;
    if (fd >= 0) {
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        int error = errno;
        ::close(fd);
        errno = error;
    }
    if (!answers && reason != nullptr) *reason = std::strerror(errno);
    return answers;
}

}  // namespace kestrel_tool

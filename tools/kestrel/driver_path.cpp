#include "kestrel/driver_path.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace kestrel_tool {

std::string DefaultWindowsDirectory() {
    const char* windir = std::getenv("WINDIR");
    if (windir != nullptr && *windir != '\0') return windir;
    return "/var/lib/hvnacc32";
}

std::string DriverSocketPath(const std::string& windir) { return windir + "/dev/TarnDev"; }

bool DriverServiceAnswers(const std::string& windir) {
    std::string path = DriverSocketPath(windir);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

}  // namespace kestrel_tool

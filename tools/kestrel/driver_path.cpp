#include "kestrel/driver_path.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/names.h"
#include "platform/posix/driver_socket.h"
#include "platform/posix/files.h"

namespace kestrel_tool {

std::string DefaultWindowsDirectory() { return platform::posix::WindowsDirectoryFromEnvironment(); }

std::string DriverSocketPath(const std::string& windir) {
    std::string path;
    platform::posix::DriverSocketPath(windir, NT_DEVICE, &path);  // a well-formed device path
    return path;
}

bool DriverServiceAnswers(const std::string& windir, std::string* reason) {
    int fd = platform::posix::ConnectUnixSocket(DriverSocketPath(windir));
    if (fd >= 0) ::close(fd);
    else if (reason != nullptr) *reason = std::strerror(errno);
    return fd >= 0;
}

}  // namespace kestrel_tool

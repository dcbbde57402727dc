#include "platform/posix/driver_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/driver_wire.h"
#include "platform/posix/errors.h"
#include "platform/posix/files.h"

namespace platform {
namespace posix {
namespace {

// Requests of one process go out one at a time, so that two threads using
// one handle cannot interleave their bytes on the connection.
std::mutex g_exchange;

// What became of each open handle's connection. A service that ends (or is
// restarted) closes it: the request under way fails, and the next request
// connects afresh to the same socket, so a client outlives a restart of the
// service. A service that breaks the protocol leaves the stream out of step
// for good: the handle fails every later request.
enum class LinkState { Up, Lost, OutOfStep };
struct Link {
    std::string windir;
    std::string socketPath;
    LinkState state = LinkState::Up;
};
std::map<int, Link>& Links() {
    static auto* links = new std::map<int, Link>;  // outlives every other static
    return *links;
}

// A connection to the socket at `path` whose peer is its service; -1 with
// errno set (EACCES, said on the debug output, when someone else answers).
int ConnectTo(const std::string& windir, const std::string& path) {
    int fd = ConnectUnixSocket(path);
    std::string why;
    if (fd >= 0 && !DriverPeerTrusted(fd, windir, &why)) {
        DebugWrite(("*** Kestrel: " + why + " ***\n").c_str());
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

// A lost connection replaced in place: the handle keeps its number.
bool Reconnect(int fd, Link* link) {
    int fresh = ConnectTo(link->windir, link->socketPath);
    if (fresh < 0 || ::dup3(fresh, fd, O_CLOEXEC) < 0) {
        int error = errno;
        if (fresh >= 0) ::close(fresh);
        SetLastErrorFromErrno(error);
        return false;
    }
    ::close(fresh);
    link->state = LinkState::Up;
    return true;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t length) {
    return TransferAll(data, length,
                       [fd](const std::uint8_t* at, std::size_t n) { return ::send(fd, at, n, MSG_NOSIGNAL); });
}

// False on error or when the peer closed first (errno EPIPE then).
bool ReceiveAll(int fd, std::uint8_t* data, std::size_t length) {
    return TransferAll(data, length, [fd](std::uint8_t* at, std::size_t n) { return ::recv(fd, at, n, 0); });
}

bool Broken(int fd, Link* link) {
    // Whatever part of the exchange got through, the stream is no longer
    // in step; no later request may read stale replies from it. When the
    // service closed its end, the next request reconnects.
    bool serviceEnded = errno == EPIPE || errno == ECONNRESET;
    if (link != nullptr && link->state == LinkState::Up)
        link->state = serviceEnded ? LinkState::Lost : LinkState::OutOfStep;
    ::shutdown(fd, SHUT_RDWR);
    SetLastError(kErrorBrokenPipe);
    return false;
}

}  // namespace

int ConnectUnixSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool DriverPeerTrusted(int fd, const std::string& windir, std::string* why) {
    const std::string devPath = windir + "/dev";
    ucred peer{};
    socklen_t size = sizeof peer;
    struct stat dev, dir;
    std::string trouble;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        trouble = std::string("who answers cannot be told: ") + std::strerror(errno);
    } else if (::lstat(devPath.c_str(), &dev) != 0 || ::stat(windir.c_str(), &dir) != 0) {
        trouble = std::string("it cannot be looked at: ") + std::strerror(errno);
    } else if (!S_ISDIR(dev.st_mode)) {
        trouble = devPath + " is not a directory";
    } else if (dev.st_uid != 0 && dev.st_uid != dir.st_uid) {
        trouble = devPath + " belongs to " + UserName(dev.st_uid) + ", not to " +
                  (dir.st_uid == 0 ? "root" : "root or to " + UserName(dir.st_uid)) + ", who owns " + windir;
    } else if ((dev.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        trouble = devPath + " can be written by others than its owner (mode " + ModeText(dev.st_mode) + ")";
    } else if (peer.uid != 0 && peer.uid != dev.st_uid) {
        trouble = "it is served by " + UserName(peer.uid) + " (process " + std::to_string(peer.pid) + "), not by " +
                  UserName(dev.st_uid) + " or root";
    }
    if (trouble.empty()) return true;
    *why = "the socket in " + devPath + " is not served by its owner (" + trouble + ")";
    return false;
}

bool DriverSocketPath(const std::string& dir, const char* devicePath, std::string* socketPath) {
    static const char kPrefix[] = "\\\\.\\";
    if (devicePath == nullptr || std::strncmp(devicePath, kPrefix, 4) != 0) return false;
    const char* name = devicePath + 4;
    if (*name == '\0' || std::strchr(name, '/') != nullptr || std::strchr(name, '\\') != nullptr ||
        std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    *socketPath = dir + "/dev/" + name;
    return true;
}

std::intptr_t DriverSocketOpen(const std::string& dir, const char* devicePath) {
    std::string path;
    if (!DriverSocketPath(dir, devicePath, &path)) {
        SetLastError(kErrorFileNotFound);
        return kInvalidHandle;
    }
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        SetLastError(kErrorFilenameTooLong);
        return kInvalidHandle;
    }
    int fd = ConnectTo(dir, path);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return kInvalidHandle;
    }
    std::lock_guard<std::mutex> guard(g_exchange);
    Links()[fd] = Link{dir, path, LinkState::Up};
    return fd;
}

bool DriverSocketIoctl(std::intptr_t driver, std::uint32_t code, const void* in,
                       std::uint32_t inLen, void* out, std::uint32_t outLen,
                       std::uint32_t* returned) {
    if (returned != nullptr) *returned = 0;
    if (driver < 0) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    // Longer than any driver request: the service would close the handle.
    if ((in == nullptr && inLen != 0) || (out == nullptr && outLen != 0) || inLen > kMaxTransferBytes ||
        outLen > kMaxTransferBytes) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    int fd = static_cast<int>(driver);
    std::vector<std::uint8_t> request(kRequestHeaderBytes + inLen);
    PutLE32(&request[0], code);
    PutLE32(&request[4], inLen);
    PutLE32(&request[8], outLen);
    if (inLen != 0) std::memcpy(&request[kRequestHeaderBytes], in, inLen);

    std::lock_guard<std::mutex> guard(g_exchange);
    auto found = Links().find(fd);
    Link* link = found == Links().end() ? nullptr : &found->second;
    if (link != nullptr && link->state == LinkState::Lost && !Reconnect(fd, link)) return false;
    if (link != nullptr && link->state == LinkState::OutOfStep) {
        SetLastError(kErrorBrokenPipe);
        return false;
    }
    if (!SendAll(fd, request.data(), request.size())) return Broken(fd, link);
    std::uint8_t header[kReplyHeaderBytes];
    if (!ReceiveAll(fd, header, sizeof header)) return Broken(fd, link);
    std::uint32_t ok = GetLE32(&header[0]);
    std::uint32_t count = GetLE32(&header[4]);
    if (count > outLen) {
        errno = EPROTO;
        return Broken(fd, link);
    }
    // The reply is taken whole before any of it reaches the caller: a failed
    // read, or one cut off by a broken connection, leaves the caller's
    // buffer as it was. The request's buffer holds it: a mailbox byte's
    // reply fits without another allocation.
    std::vector<std::uint8_t>& reply = request;
    reply.resize(count);
    if (count != 0 && !ReceiveAll(fd, reply.data(), count)) return Broken(fd, link);
    if (ok == 0) {
        SetLastError(kErrorInvalidFunction);
        return false;
    }
    if (count != 0) std::memcpy(out, reply.data(), count);
    if (returned != nullptr) *returned = count;
    return true;
}

void DriverSocketClose(std::intptr_t driver) {
    if (driver < 0) return;
    std::lock_guard<std::mutex> guard(g_exchange);
    Links().erase(static_cast<int>(driver));
    ::close(static_cast<int>(driver));
}

}  // namespace posix
}  // namespace platform

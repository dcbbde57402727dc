// The client side of the port-driver socket: opening a driver device path
// connects to the service that answers on its socket, and each request is
// one exchange on that connection.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
namespace posix {

// A connection to the Unix socket at `path`: its descriptor, or -1 with
// errno set (ENAMETOOLONG for a path longer than a socket address holds).
// Blocks only as long as connect does on a local socket (not at all when
// nothing listens, or the listener's backlog is not full).
int ConnectUnixSocket(const std::string& path);

// The socket that serves a driver device path "\\.\NAME": <dir>/dev/NAME.
// False when the path is not of that form.
bool DriverSocketPath(const std::string& dir, const char* devicePath, std::string* socketPath);

// Whether the service at the other end of `fd`, a connection to a driver
// socket of `windir`, is the one that may serve it: it runs as root or as
// the owner of DIR/dev, a directory that belongs to root or to the owner of
// the Windows directory and that nobody else can write (so nobody else can
// put a socket there). False with the reason in *why: "the socket in
// DIR/dev is not served by its owner (...)".
bool DriverPeerTrusted(int fd, const std::string& windir, std::string* why);

// As CreateFileA on a device: the handle, or -1 (kInvalidHandle) with the
// last error set: file not found when nothing serves the device, access
// denied when something else than its service answers there (said on the
// debug output).
std::intptr_t DriverSocketOpen(const std::string& dir, const char* devicePath);
// As DeviceIoControl: true when the driver performed the request. A refusal
// sets the last error to "incorrect function"; a broken connection to
// "pipe ended". When the service closed the connection (it ended or was
// restarted), the next request connects to the socket again; when it broke
// the protocol, every later request on the handle fails too.
bool DriverSocketIoctl(std::intptr_t driver, std::uint32_t code, const void* in,
                       std::uint32_t inLen, void* out, std::uint32_t outLen,
                       std::uint32_t* returned);
void DriverSocketClose(std::intptr_t driver);

}  // namespace posix
}  // namespace platform

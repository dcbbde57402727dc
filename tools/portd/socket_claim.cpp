#include "portd/socket_claim.h"

#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace portd {
namespace {

using platform::posix::UniqueFd;

std::string Reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

bool Address(const std::string& path, sockaddr_un* address) {
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// True when some service accepts connections on the socket.
bool Answers(const sockaddr_un& address) {
    UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return probe.valid() &&
           ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

bool SocketClaim::Claim(const std::string& socketPath, std::string* error, gid_t group) {
    sockaddr_un address;
    if (!Address(socketPath, &address)) {
        *error = "socket path too long for a Unix socket: " + socketPath;
        return false;
    }
    std::string directory = socketPath.substr(0, socketPath.rfind('/'));
    if (!platform::posix::MakeDirectories(directory)) {
        *error = Reason("cannot create directory " + directory, errno);
        return false;
    }
    UniqueFd lock = platform::posix::OpenOrCreate(socketPath + ".lock");
    if (!lock.valid()) {
        *error = Reason("cannot create " + socketPath + ".lock", errno);
        return false;
    }
    if (!platform::posix::Flock(lock.get(), LOCK_EX | LOCK_NB)) {
        *error = errno == EWOULDBLOCK ? "another kestrel-portd is serving " + socketPath
                                      : Reason("cannot lock " + socketPath + ".lock", errno);
        return false;
    }
    struct stat info;
    if (::lstat(socketPath.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            *error = socketPath + " exists and is not a socket; not replacing it";
            return false;
        }
        if (Answers(address)) {
            *error = "another service is answering on " + socketPath;
            return false;
        }
        ::unlink(socketPath.c_str());  // left by a service that is gone
    }
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.valid()) {
        *error = Reason("cannot create a socket", errno);
        return false;
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = Reason("cannot create socket " + socketPath, errno);
        return false;
    }
    // Only the group that may use the units reaches the device (root and
    // the service's own user always do); a directory left by an older
    // service is given to the group too.
    if (group == static_cast<gid_t>(-1)) group = platform::posix::GroupOf(directory);
    else if (platform::posix::GroupOf(directory) != group)
        (void)::chown(directory.c_str(), static_cast<uid_t>(-1), group);
    if (::chown(socketPath.c_str(), static_cast<uid_t>(-1), group) != 0 ||
        ::chmod(socketPath.c_str(), 0660) != 0) {
        *error = Reason("cannot give socket " + socketPath + " to its group", errno);
        ::unlink(socketPath.c_str());
        return false;
    }
    if (::listen(listener.get(), 64) != 0) {
        *error = Reason("cannot listen on " + socketPath, errno);
        ::unlink(socketPath.c_str());
        return false;
    }
    lock_ = std::move(lock);
    listener_ = std::move(listener);
    path_ = socketPath;
    return true;
}

void SocketClaim::Release() {
    if (!listener_.valid()) return;
    ::unlink(path_.c_str());
    listener_.reset();
    lock_.reset();
}

}  // namespace portd

#include "portd/socket_claim.h"

#include <fcntl.h>
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

// The socket `name` in the directory held open as `dir`, reached through
// that descriptor: whatever is done to the path meanwhile, the socket is
// made (and probed) in the directory that was checked.
bool Address(int dir, const std::string& name, sockaddr_un* address) {
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    std::string path = "/proc/self/fd/" + std::to_string(dir) + "/" + name;
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
    using platform::posix::Keeper;
    const std::string directory = platform::posix::DirectoryOf(socketPath);
    const std::string windir = platform::posix::DirectoryOf(directory);
    const std::string name = platform::posix::BaseNameOf(socketPath);
    if (socketPath.size() >= sizeof(sockaddr_un::sun_path)) {
        *error = "socket path too long for a Unix socket: " + socketPath;
        return false;
    }
    UniqueFd parent = platform::posix::OpenDirectory(windir);
    if (!parent.valid()) {
        *error = Reason("cannot open directory " + windir, errno);
        return false;
    }
    struct stat info;
    if (group == static_cast<gid_t>(-1) && ::fstat(parent.get(), &info) == 0) group = info.st_gid;
    UniqueFd dev = platform::posix::OpenSubdirectory(parent.get(), platform::posix::BaseNameOf(directory), directory,
                                                     Keeper::Owner, error);
    if (!dev.valid()) {
        if (errno == EPERM || errno == ELOOP || errno == ENOTDIR)
            *error += "; only the service may make its socket there: remove " + directory + ", and it is made anew";
        return false;
    }
    if (::fstat(dev.get(), &info) == 0 && info.st_gid != group) {
        *error = directory + " is in group " + platform::posix::GroupName(info.st_gid) + ", not " +
                 platform::posix::GroupName(group) + ": remove it, and it is made anew";
        return false;
    }
    UniqueFd lock = platform::posix::OpenFileAt(dev.get(), name + ".lock", socketPath + ".lock", Keeper::Owner, error);
    if (!lock.valid()) return false;
    if (!platform::posix::Flock(lock.get(), LOCK_EX | LOCK_NB)) {
        *error = errno == EWOULDBLOCK ? "another kestrel-portd is serving " + socketPath
                                      : Reason("cannot lock " + socketPath + ".lock", errno);
        return false;
    }
    sockaddr_un address;
    if (!Address(dev.get(), name, &address)) {
        *error = "no room for the socket's address: " + socketPath;
        return false;
    }
    if (::fstatat(dev.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            *error = socketPath + " exists and is not a socket; not replacing it";
            return false;
        }
        if (Answers(address)) {
            *error = "another service is answering on " + socketPath;
            return false;
        }
        ::unlinkat(dev.get(), name.c_str(), 0);  // left by a service that is gone
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
    // the service's own user always do). By name in dev/, which nobody else
    // can write: what is there is the socket just made.
    if ((::fstatat(dev.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
         (info.st_gid != group &&
          ::fchownat(dev.get(), name.c_str(), static_cast<uid_t>(-1), group, AT_SYMLINK_NOFOLLOW) != 0)) ||
        ::fchmodat(dev.get(), name.c_str(), 0660, 0) != 0 || ::listen(listener.get(), 128) != 0) {
        *error = Reason("cannot open socket " + socketPath + " to its group", errno);
        ::unlinkat(dev.get(), name.c_str(), 0);
        return false;
    }
    dev_ = std::move(dev);
    lock_ = std::move(lock);
    listener_ = std::move(listener);
    path_ = socketPath;
    name_ = name;
    return true;
}

void SocketClaim::Release() {
    if (!listener_.valid()) return;
    ::unlinkat(dev_.get(), name_.c_str(), 0);
    listener_.reset();
    lock_.reset();
    dev_.reset();
}

}  // namespace portd

#include "platform/posix/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace posix {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int UniqueFd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace {

constexpr mode_t kSharedFileMode = 0660;
constexpr mode_t kSharedDirectoryMode = 02770;
constexpr mode_t kParentDirectoryMode = 0755;

int OpenRetried(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, kSharedFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

gid_t GroupOf(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? info.st_gid : static_cast<gid_t>(-1);
}

std::string DirectoryOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool ShareWithGroup(int fd, gid_t group, mode_t mode) {
    struct stat info;
    // Refused (EPERM) unless we are root or a member of the group: the file
    // then keeps ours, and only its owner and our group reach it.
    if (group != static_cast<gid_t>(-1) && ::fstat(fd, &info) == 0 && info.st_gid != group)
        (void)::fchown(fd, static_cast<uid_t>(-1), group);
    return ::fchmod(fd, mode) == 0;
}

UniqueFd OpenOrCreate(const std::string& path) {
    // Created here (O_EXCL tells), or found: a file removed between the two
    // opens is created on the next round.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = OpenRetried(path, O_RDWR | O_CREAT | O_EXCL);
        if (fd >= 0) {
            ShareWithGroup(fd, GroupOf(DirectoryOf(path)), kSharedFileMode);
            return UniqueFd(fd);
        }
        if (errno != EEXIST) return UniqueFd();
        fd = OpenRetried(path, O_RDWR);
        if (fd >= 0) {
            // One of ours from before files were shared: share it now.
            struct stat info;
            if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() &&
                (info.st_mode & kSharedFileMode) != kSharedFileMode)
                ShareWithGroup(fd, GroupOf(DirectoryOf(path)), (info.st_mode & 07777) | kSharedFileMode);
            return UniqueFd(fd);
        }
        if (errno != ENOENT) return UniqueFd();
    }
    return UniqueFd();
}

bool Flock(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string::size_type pos = 0;
    while (true) {
        pos = path.find('/', pos + 1);
        std::string prefix = path.substr(0, pos);
        bool last = pos == std::string::npos;
        if (::mkdir(prefix.c_str(), 0700) == 0) {
            // Made private first, then opened up to what it should be,
            // whatever the umask.
            if (last) {
                gid_t group = GroupOf(DirectoryOf(prefix));
                if (group != static_cast<gid_t>(-1) && group != GroupOf(prefix))
                    (void)::chown(prefix.c_str(), static_cast<uid_t>(-1), group);
            }
            if (::chmod(prefix.c_str(), last ? kSharedDirectoryMode : kParentDirectoryMode) != 0)
                return false;
        } else if (errno != EEXIST) {
            return false;
        }
        if (last) break;
    }
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return false;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

std::string WindowsDirectoryFromEnvironment() {
    const char* windir = std::getenv("WINDIR");
    if (windir != nullptr && *windir != '\0') return windir;
    return "/var/lib/hvnacc32";
}

std::string PathIn(const std::string& dir, const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    return dir + "/" + name;
}

bool WriteAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace posix
}  // namespace platform

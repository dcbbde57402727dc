#include "platform/posix/files.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

constexpr mode_t kParentDirectoryMode = 0755;
constexpr gid_t kNoGroup = static_cast<gid_t>(-1);

mode_t FileMode(Keeper keeper) { return keeper == Keeper::Group ? 0660 : 0600; }
mode_t DirectoryMode(Keeper keeper) { return keeper == Keeper::Group ? 02770 : 0750; }

enum class Use { Read, Keep };

// What is wrong with `info`, found in the directory `dir`, for a file (or
// a directory) of that keeper; empty when nothing is. Reading asks less:
// a plain file of one link that others cannot write.
std::string Trouble(const struct stat& info, const struct stat& dir, Keeper keeper, bool directory, Use use) {
    if (S_ISLNK(info.st_mode)) return " is a symbolic link";
    if (directory ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode))
        return directory ? " is not a directory" : " is not a regular file";
    // A second name of some other file (its owner's, or another of ours).
    if (!directory && info.st_nlink != 1) return " has " + std::to_string(info.st_nlink) + " hard links";
    if (info.st_mode & S_IWOTH) return " is writable by others (mode " + ModeText(info.st_mode) + ")";
    if (use == Use::Read) return std::string();
    if (keeper == Keeper::Owner) {
        if (info.st_uid != ::geteuid())
            return " belongs to " + UserName(info.st_uid) + ", not to " + UserName(::geteuid());
        if (info.st_mode & S_IWGRP) return " is writable by its group (mode " + ModeText(info.st_mode) + ")";
        return std::string();
    }
    // In a directory of the group, every member must be able to use it.
    if (!(dir.st_mode & S_IWGRP)) return std::string();
    if (info.st_gid != dir.st_gid)
        return " belongs to group " + GroupName(info.st_gid) + ", not to its directory's group " +
               GroupName(dir.st_gid);
    const mode_t need = directory ? 0070 : 0060;
    if ((info.st_mode & need) != need)
        return " is mode " + ModeText(info.st_mode) + ": group " + GroupName(dir.st_gid) + " cannot use it";
    return std::string();
}

UniqueFd Refuse(std::string* why, const std::string& text, int error) {
    if (why != nullptr) *why = text;
    errno = error;
    return UniqueFd();
}

// Refused for the system's reason: errno, taken before anything that
// builds the message can change it.
UniqueFd RefuseErrno(std::string* why, const std::string& shown) {
    const int error = errno;
    return Refuse(why, shown + ": " + std::strerror(error), error);
}

// Why `name` in `dir` could not be opened: what is wrong with the entry
// itself when something is (a link, say), else the system's reason.
UniqueFd Failed(int dir, const std::string& name, const std::string& shown, Keeper keeper, bool directory,
                std::string* why) {
    const int error = errno;
    struct stat info, dirInfo;
    if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(dir, &dirInfo) == 0) {
        std::string trouble = Trouble(info, dirInfo, keeper, directory, Use::Read);
        if (!trouble.empty()) return Refuse(why, shown + trouble, error == ENOENT ? EPERM : error);
    }
    return Refuse(why, shown + ": " + std::strerror(error), error);
}

// Checks what was opened; refuses (and closes) it when it is not right.
UniqueFd Checked(UniqueFd fd, int dir, const std::string& shown, Keeper keeper, bool directory, Use use,
                 std::string* why) {
    struct stat info, dirInfo;
    if (::fstat(fd.get(), &info) != 0 || ::fstat(dir, &dirInfo) != 0)
        return RefuseErrno(why, shown);
    std::string trouble = Trouble(info, dirInfo, keeper, directory, use);
    if (!trouble.empty()) return Refuse(why, shown + trouble, EPERM);
    // Opened without waiting in case it was a FIFO; a plain file never waits.
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK)) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Gives a file or directory this process has just made (and so no one
// can have swapped) its group and its mode, whatever the umask.
bool Give(int fd, gid_t group, mode_t mode) {
    struct stat info;
    // Refused (EPERM) unless we are root or a member of the group: it then
    // keeps ours, and only its owner and our group reach it.
    if (group != kNoGroup && ::fstat(fd, &info) == 0 && info.st_gid != group)
        (void)::fchown(fd, static_cast<uid_t>(-1), group);
    return ::fchmod(fd, mode) == 0;
}

int OpenAt(int dir, const std::string& name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(dir, name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// `prefix` and six letters: a name not taken yet, probably (O_EXCL, or
// mkdir, makes sure).
std::string FreshName(const std::string& prefix) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) << 32 ^ counter.fetch_add(1) ^
                         static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        name += kLetters[(seed >> 33) % (sizeof kLetters - 1)];
    }
    return name;
}

// A new file (or directory) in `dir`, of a fresh name beginning with
// `prefix` (in *name), given its keeper's group and mode.
UniqueFd MakeNew(int dir, const std::string& prefix, Keeper keeper, bool directory, std::string* name) {
    struct stat dirInfo, info;
    if (::fstat(dir, &dirInfo) != 0) return UniqueFd();
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = FreshName(prefix);
        UniqueFd made;
        if (!directory) {
            made.reset(OpenAt(dir, *name, O_RDWR | O_CREAT | O_EXCL, 0600));
        } else if (::mkdirat(dir, name->c_str(), 0700) == 0) {
            made.reset(OpenAt(dir, *name, O_RDONLY | O_DIRECTORY));
            // Still ours and empty: the one just made, not something put in
            // its place meanwhile.
            if (made.valid() && (::fstat(made.get(), &info) != 0 || info.st_uid != ::geteuid() || info.st_nlink != 2))
                made.reset(), errno = EEXIST;
        }
        if (made.valid()) {
            const gid_t group = keeper == Keeper::Group || directory ? dirInfo.st_gid : kNoGroup;
            if (Give(made.get(), group, directory ? DirectoryMode(keeper) : FileMode(keeper))) return made;
            int error = errno;
            ::unlinkat(dir, name->c_str(), directory ? AT_REMOVEDIR : 0);
            errno = error;
            return UniqueFd();
        }
        if (errno != EEXIST) return UniqueFd();
    }
    return UniqueFd();
}

// Puts what MakeNew made (`fd`, at `temp`) at `name`, whole, so that no one
// ever finds it before it has its group and mode: renamed there unless the
// name is taken. False otherwise, the temporary removed; errno EEXIST when
// the name is taken.
bool Publish(int dir, const std::string& temp, const std::string& name, int fd, bool directory) {
    if (::renameat2(dir, temp.c_str(), dir, name.c_str(), RENAME_NOREPLACE) != 0) {
        int error = errno;
        // A file system without the no-replace rename: a second link, then
        // the temporary's removed (a file has two names for a moment).
        if (!directory && (error == EINVAL || error == ENOSYS) &&
            ::linkat(dir, temp.c_str(), dir, name.c_str(), 0) == 0) {
            ::unlinkat(dir, temp.c_str(), 0);
            return true;
        }
        if (error == EINVAL || error == ENOSYS) error = errno;
        ::unlinkat(dir, temp.c_str(), directory ? AT_REMOVEDIR : 0);
        errno = error;
        return false;
    }
    // The temporary name could have been given to something else before
    // the rename: then what is at `name` is not ours, and is checked.
    struct stat mine, there;
    if (::fstat(fd, &mine) == 0 && ::fstatat(dir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        mine.st_ino == there.st_ino && mine.st_dev == there.st_dev)
        return true;
    errno = EEXIST;
    return false;
}

// `name` in `dir`, found (and checked) or made whole: one removed meanwhile
// is made on the next round, one made by another meanwhile is found.
UniqueFd FindOrMake(int dir, const std::string& name, const std::string& shown, Keeper keeper, bool directory,
                    std::string* why) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        UniqueFd found(OpenAt(dir, name, directory ? O_RDONLY | O_DIRECTORY : O_RDWR | O_NONBLOCK));
        if (found.valid()) return Checked(std::move(found), dir, shown, keeper, directory, Use::Keep, why);
        if (errno != ENOENT) return Failed(dir, name, shown, keeper, directory, why);
        std::string temp;
        found = MakeNew(dir, "." + name + ".new", keeper, directory, &temp);
        if (found.valid() && Publish(dir, temp, name, found.get(), directory)) return found;
        if (!found.valid() || errno != EEXIST) return RefuseErrno(why, shown);
    }
    return Refuse(why, shown + ": removed as fast as it is made", EAGAIN);
}

}  // namespace

UniqueFd OpenDirectory(const std::string& path) {
    return UniqueFd(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

UniqueFd OpenSharedDirectory(const std::string& path, std::string* why) {
    UniqueFd dir = OpenDirectory(path);
    struct stat info;
    if (!dir.valid() || ::fstat(dir.get(), &info) != 0) return RefuseErrno(why, path);
    if (info.st_mode & S_IWOTH)
        return Refuse(why, path + " is writable by others (mode " + ModeText(info.st_mode) + ")", EPERM);
    return dir;
}

UniqueFd OpenKestrelDirectory(const std::string& windir, std::string* why) {
    UniqueFd dir = OpenSharedDirectory(windir, why);
    if (!dir.valid()) return dir;
    return OpenSubdirectory(dir.get(), "kestrel", windir + "/kestrel", Keeper::Group, why);
}

UniqueFd OpenSubdirectory(int parent, const std::string& name, const std::string& shown, Keeper keeper,
                          std::string* why) {
    return FindOrMake(parent, name, shown, keeper, true, why);
}

UniqueFd OpenFileAt(int dir, const std::string& name, const std::string& shown, Keeper keeper, std::string* why) {
    return FindOrMake(dir, name, shown, keeper, false, why);
}

UniqueFd CreateTemporaryAt(int dir, const std::string& prefix, std::string* name, std::string* why) {
    UniqueFd file = MakeNew(dir, prefix, Keeper::Group, false, name);
    if (file.valid()) return file;
    const int error = errno;
    return Refuse(why, "cannot create " + *name + ": " + std::strerror(error), error);
}

namespace {

UniqueFd OpenForReadingAt(int dir, const std::string& name, const std::string& shown, std::string* why) {
    UniqueFd file(OpenAt(dir, name, O_RDONLY | O_NONBLOCK));
    if (!file.valid()) {
        if (errno == ENOENT) return Refuse(why, std::string(), ENOENT);
        return Failed(dir, name, shown, Keeper::Group, false, why);
    }
    return Checked(std::move(file), dir, shown, Keeper::Group, false, Use::Read, why);
}

}  // namespace

UniqueFd OpenForReading(const std::string& path, std::string* why) {
    UniqueFd dir = OpenSharedDirectory(DirectoryOf(path), why);
    if (!dir.valid()) return dir;
    return OpenForReadingAt(dir.get(), BaseNameOf(path), path, why);
}

bool ReadWholeFile(const std::string& path, std::string* text, std::string* why) {
    text->clear();
    UniqueFd dir = OpenSharedDirectory(DirectoryOf(path), why);
    if (!dir.valid()) {
        if (errno == ENOENT) why->clear();  // no directory yet: empty
        return false;
    }
    return ReadWholeFileAt(dir.get(), BaseNameOf(path), path, text, why);
}

bool ReadWholeFileAt(int dir, const std::string& name, const std::string& shown, std::string* text,
                     std::string* why) {
    text->clear();
    UniqueFd fd = OpenForReadingAt(dir, name, shown, why);
    if (!fd.valid()) {
        if (errno == ENOENT) why->clear();  // no file yet: empty
        return false;
    }
    char chunk[4096];
    while (true) {
        ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            *why = shown + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0) return true;
        text->append(chunk, static_cast<std::size_t>(got));
    }
}

std::string TroubleAt(const std::string& path, Keeper keeper, bool reading) {
    struct stat info, dir;
    if (::stat(DirectoryOf(path).c_str(), &dir) != 0) return std::string();
    if (dir.st_mode & S_IWOTH) return DirectoryOf(path) + " is writable by others (mode " + ModeText(dir.st_mode) + ")";
    if (::lstat(path.c_str(), &info) != 0) return std::string();
    std::string trouble = Trouble(info, dir, keeper, S_ISDIR(info.st_mode), reading ? Use::Read : Use::Keep);
    return trouble.empty() ? trouble : path + trouble;
}

std::string DirectoryOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Flock(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool MakeDirectories(const std::string& path, mode_t mode) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    UniqueFd at = OpenDirectory(path[0] == '/' ? "/" : ".");
    for (std::string::size_type start = 0; at.valid() && start < path.size();) {
        std::string::size_type end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        const bool last = path.find_first_not_of('/', end) == std::string::npos;
        const bool made = ::mkdirat(at.get(), name.c_str(), 0700) == 0;
        if (!made && errno != EEXIST) return false;
        // One that exists is taken as named; one just made through no link.
        UniqueFd next(::openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (made ? O_NOFOLLOW : 0)));
        if (!next.valid()) return false;
        struct stat info, parent;
        // Made private first, then opened up to what it should be, whatever
        // the umask; only while still ours and empty.
        if (made && ::fstat(next.get(), &info) == 0 && info.st_uid == ::geteuid() && info.st_nlink == 2 &&
            ::fstat(at.get(), &parent) == 0 &&
            !Give(next.get(), last && (mode & S_ISGID) ? parent.st_gid : kNoGroup, last ? mode : kParentDirectoryMode))
            return false;
        at = std::move(next);
    }
    return at.valid();
}

std::string WindowsDirectoryFromEnvironment() {
    const char* windir = std::getenv("WINDIR");
    if (windir != nullptr && *windir != '\0') return windir;
    return "/var/lib/hvnacc32";
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string PathIn(const std::string& dir, const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    return dir + "/" + name;
}

bool WriteAll(int fd, const std::string& text) {
    return TransferAll(text.data(), text.size(), [fd](const char* at, std::size_t n) { return ::write(fd, at, n); });
}

namespace {

// The name in the system's entry for `id` (getgrgid_r or getpwuid_r), or
// the number when it has none.
template <typename Id, typename Entry>
std::string NameOf(Id id, int (*lookup)(Id, Entry*, char*, std::size_t, Entry**), char* Entry::*name) {
    Entry entry, *found = nullptr;
    std::vector<char> buffer(4096);
    if (lookup(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) return found->*name;
    return std::to_string(id);
}

}  // namespace

std::string GroupName(gid_t group) { return NameOf(group, ::getgrgid_r, &group::gr_name); }

std::string UserName(uid_t user) { return NameOf(user, ::getpwuid_r, &passwd::pw_name); }

}  // namespace posix
}  // namespace platform

// Small file-system helpers of the POSIX layer: an owned descriptor, flock
// without EINTR surprises, the directory that plays the Windows directory,
// and the careful opening of what lies in a directory others can write.
//
// The Windows directory is shared by one group, and the driver service may
// run as root: a name there may be a symbolic link to anyone's file, a hard
// link, a FIFO or a file of another group, planted by any member. So a file
// there is reached only relative to a descriptor of its directory and
// never through a link (O_NOFOLLOW); it is created with O_EXCL, and only a
// file this process has just created is given its group and mode; an
// existing one of the wrong kind is refused with its path and what is
// wrong, never "repaired" (that would repair the target of a link).
//
// Every member shares the units, so what the add-in creates is readable
// and writable by the directory's group whatever the creator's umask:
// otherwise the second user of a machine could not map the shared block or
// take the mutex, and would silently work alone.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace platform {
namespace posix {

// A file descriptor closed on destruction (-1: none).
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Who keeps what a directory holds.
enum class Keeper {
    // Every member of the directory's group (the Windows directory and
    // kestrel/): files 0660, directories 2770, in the directory's group.
    Group,
    // This process's user alone (the service's dev/): files 0600,
    // directories 0750; nobody else may write there.
    Owner,
};

// The directory at `path`, as named (links on the way are followed: the
// name is the caller's choice). Invalid with errno set on failure.
UniqueFd OpenDirectory(const std::string& path);

// A directory whose files are shared: refused (*why says so) when others
// than its owner and group may write it, since then anyone could plant or
// replace what the group shares.
UniqueFd OpenSharedDirectory(const std::string& path, std::string* why);

// The add-in's own directory in the Windows directory, "kestrel": the
// shared block and the mutexes.
UniqueFd OpenKestrelDirectory(const std::string& windir, std::string* why);

// The subdirectory `name` of `parent`, made when missing (for the keeper:
// in the parent's group). An existing one must be a directory, reached
// through no link, and kept as the keeper keeps it. `shown` names it in
// messages. Invalid with errno and *why set on failure.
UniqueFd OpenSubdirectory(int parent, const std::string& name, const std::string& shown, Keeper keeper,
                          std::string* why);

// The file `name` in the directory `dir`, open for reading and writing,
// made when missing. Invalid with errno and *why set on failure.
UniqueFd OpenFileAt(int dir, const std::string& name, const std::string& shown, Keeper keeper, std::string* why);

// A file of a new name beginning with `prefix` (a temporary file of an
// atomic replacement), made with O_EXCL and given to the group. Its name
// goes to *name.
UniqueFd CreateTemporaryAt(int dir, const std::string& prefix, std::string* name, std::string* why);

// An existing file for reading, through no link: a plain file of one link
// that others cannot write. Missing: invalid, errno ENOENT, *why empty.
UniqueFd OpenForReading(const std::string& path, std::string* why);

// The whole of such a file; false when it cannot be read: *why says why,
// or is empty (errno ENOENT) when the file or its directory is missing.
bool ReadWholeFile(const std::string& path, std::string* text, std::string* why);
// The same for the file `name` in the directory `dir`, already open and
// checked, `shown` naming it in messages.
bool ReadWholeFileAt(int dir, const std::string& name, const std::string& shown, std::string* text,
                     std::string* why);

// What is wrong with the entry at `path` (not followed) for a file or
// directory of that keeper in its directory, to keep or only to read;
// empty when nothing is, or when it is missing. For programs that want to
// say why the add-in refused something.
std::string TroubleAt(const std::string& path, Keeper keeper, bool reading = false);

// Everything before the last '/' ("." when none).
std::string DirectoryOf(const std::string& path);
// Everything after the last '/'.
std::string BaseNameOf(const std::string& path);
// flock, retried on EINTR. False with errno set on failure.
bool Flock(int fd, int operation);

// Moves `length` bytes with `transfer(at, left)` (a write, send or recv
// returning what it moved), retrying short transfers and EINTR. False with
// errno set on failure; a transfer that moves nothing (the peer closed)
// fails with EPIPE.
template <typename Byte, typename Transfer>
bool TransferAll(Byte* at, std::size_t length, Transfer transfer) {
    while (length > 0) {
        const ssize_t moved = transfer(at, length);
        if (moved < 0 && errno == EINTR) continue;
        if (moved <= 0) {
            if (moved == 0) errno = EPIPE;
            return false;
        }
        at += moved;
        length -= static_cast<std::size_t>(moved);
    }
    return true;
}

// Writes all of `text`, retrying short writes and EINTR. False with errno
// set on failure.
bool WriteAll(int fd, const std::string& text);

// Creates a directory and its parents as needed. False with errno set. The
// directory itself, when created, is `mode` (by default 2770 in its
// parent's group, where the caller may give it, so that files made in it
// keep that group); parents it creates are 0755, so that the group's
// members can reach it. What exists is taken as named.
bool MakeDirectories(const std::string& path, mode_t mode = 02770);

// $WINDIR when set and not empty, else /var/lib/hvnacc32.
std::string WindowsDirectoryFromEnvironment();
// `name` inside `dir`; a name that already holds a '/' is taken as it is.
std::string PathIn(const std::string& dir, const std::string& name);

// The permission bits of `mode` as chmod takes them: "2770".
std::string ModeText(mode_t mode);

// "lp", or the number when the group has no name; the same for users.
std::string GroupName(gid_t group);
std::string UserName(uid_t user);

}  // namespace posix
}  // namespace platform

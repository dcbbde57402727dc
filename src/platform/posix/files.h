// Small file-system helpers of the POSIX layer: an owned descriptor, flock
// without EINTR surprises, and the directory that plays the Windows
// directory.
//
// Every member of the Windows directory's group shares its units, so what
// is created there is readable and writable by that group whatever the
// creator's umask: otherwise the second user of a machine could not map
// the shared block or take the mutex, and would silently work alone.
#pragma once

#include <sys/types.h>

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

// Opens (creating when missing) a file for reading and writing, close-on-exec.
// A file it creates, or one of ours missing group access, is made 0660 in
// the group of its directory.
UniqueFd OpenOrCreate(const std::string& path);
// Gives the open file `mode` and, where the caller may (root, or a member
// of it), the group `group`. False with errno set when the mode is refused.
bool ShareWithGroup(int fd, gid_t group, mode_t mode);
// The group of `path` (a directory); -1 cast to gid_t when it cannot be read.
gid_t GroupOf(const std::string& path);
// Everything before the last '/' ("." when none).
std::string DirectoryOf(const std::string& path);
// flock, retried on EINTR. False with errno set on failure.
bool Flock(int fd, int operation);

// Writes all of `text`, retrying short writes and EINTR. False with errno
// set on failure.
bool WriteAll(int fd, const std::string& text);

// Creates a directory and its parents as needed. False with errno set. The
// directory itself, when created, is 2770 in its parent's group (where the
// caller may give it) so that files made in it keep that group; parents it
// creates are 0755, so that the group's members can reach it.
bool MakeDirectories(const std::string& path);

// $WINDIR when set and not empty, else /var/lib/hvnacc32.
std::string WindowsDirectoryFromEnvironment();
// `name` inside `dir`; a name that already holds a '/' is taken as it is.
std::string PathIn(const std::string& dir, const std::string& name);

}  // namespace posix
}  // namespace platform

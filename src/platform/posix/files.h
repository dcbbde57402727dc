// Small file-system helpers of the POSIX layer: an owned descriptor, flock
// without EINTR surprises, and the directory that plays the Windows
// directory.
#pragma once

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
UniqueFd OpenOrCreate(const std::string& path);
// flock, retried on EINTR. False with errno set on failure.
bool Flock(int fd, int operation);

// Writes all of `text`, retrying short writes and EINTR. False with errno
// set on failure.
bool WriteAll(int fd, const std::string& text);

// Creates a directory and its parents as needed. False with errno set.
bool MakeDirectories(const std::string& path);

// $WINDIR when set and not empty, else /var/lib/hvnacc32.
std::string WindowsDirectoryFromEnvironment();
// `name` inside `dir`; a name that already holds a '/' is taken as it is.
std::string PathIn(const std::string& dir, const std::string& name);

}  // namespace posix
}  // namespace platform

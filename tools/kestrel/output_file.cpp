#include "kestrel/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>

#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/interrupts.h"

namespace kestrel_tool {
namespace {

std::string Shown(const std::string& path) { return path == "-" ? "standard output" : path; }

std::string Reason(int error) { return error != 0 ? std::strerror(error) : "output error"; }

// The directory of `path` and its name there.
std::pair<std::string, std::string> Split(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// A file not yet there: its directory's real path and its name.
std::string Spelled(const std::string& path) {
    auto [directory, name] = Split(path);
    char* real = ::realpath(directory.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string text = std::string(real) + "/" + name;
    std::free(real);
    return text;
}

// The same file whatever the spelling: same device and inode when both
// exist, else the same name in the same directory.
bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (a == "-" || b == "-") return false;
    struct stat first, second;
    if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    return Spelled(a) == Spelled(b);
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
    throw ToolError(kExitUsage, "cannot write " + path + ": " + why);
}

// What is at `name` in `directory`: refused when it is a directory or a
// link; true when it is a regular file, false when nothing is there, and
// *inPlace when it is a device, pipe or socket (written as it is).
bool Target(int directory, const std::string& path, const std::string& name, bool* inPlace,
            mode_t* mode) {
    *inPlace = false;
    if (name.empty() || name == "." || name == "..") Refuse(path, "it is a directory");
    struct stat info;
    if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return false;
        Refuse(path, std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) Refuse(path, "it is a directory");
    if (S_ISLNK(info.st_mode))
        Refuse(path, "it is a symbolic link (kestrel replaces only regular files; give the path "
                     "the link points to)");
    *inPlace = !S_ISREG(info.st_mode);
    *mode = info.st_mode & 0777;
    return !*inPlace;
}

int OpenDirectory(const std::string& path, const std::string& directory) {
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Refuse(path, errno == ENOENT || errno == ENOTDIR ? "no directory " + directory
                                                                  : std::strerror(errno));
    return fd;
}

}  // namespace

void RequireExportPath(const std::string& option, const std::string& path, bool standardOutput) {
    if (path == "-") {
        if (!standardOutput)
            throw ToolError(kExitUsage, option + " cannot write to standard output ('-'): give it a file");
        return;
    }
    auto [directory, name] = Split(path);
    int fd = OpenDirectory(path, directory);
    bool inPlace = false;
    mode_t mode = 0;
    try {
        Target(fd, path, name, &inPlace, &mode);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    if (!inPlace && ::access(directory.c_str(), W_OK | X_OK) != 0) Refuse(path, std::strerror(errno));
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
    if (path == "-") {
        file_ = stdout;
        return;
    }
    std::string directory;
    std::tie(directory, name_) = Split(path);
    directory_ = OpenDirectory(path, directory);
    int fd = -1;
    try {
        bool inPlace = false;
        mode_t mode = 0666;
        mayExist_ = Target(directory_, path, name_, &inPlace, &mode);
        if (inPlace) {
            fd = ::openat(directory_, name_.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
            if (fd < 0) Refuse(path, std::strerror(errno));
        } else {
            std::random_device random;
            for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
                char suffix[16];
                std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
                temporary_ = "." + name_ + ".kestrel-" + suffix;
                fd = ::openat(directory_, temporary_.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
                if (fd < 0 && errno != EEXIST) {
                    temporary_.clear();
                    Refuse(path, std::strerror(errno));
                }
            }
            if (fd < 0) Refuse(path, "no free name for the new file beside it");
            // The export takes the place of the earlier file, with its permissions.
            if (mayExist_) (void)::fchmod(fd, mode);
            RemoveFileOnStop(directory + "/" + temporary_);
        }
        fd_ = fd;
        file_ = WatchedStream(fd, &error_);
        if (file_ == nullptr) Refuse(path, std::strerror(errno));
    } catch (...) {
        Discard();
        throw;
    }
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    file_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        ::unlinkat(directory_, temporary_.c_str(), 0);  // the file this run made, by its own name
        ForgetFileOnStop(Split(path_).first + "/" + temporary_);
        temporary_.clear();
    }
    if (directory_ >= 0) ::close(directory_);
    directory_ = -1;
}

// The new file in place of the target: over the earlier regular file, or
// where nothing was, never over what came there meanwhile.
int OutputFile::Rename() {
    struct stat info;
    if (mayExist_ && ::fstatat(directory_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(info.st_mode))
        return EEXIST;
    if (::renameat2(directory_, temporary_.c_str(), directory_, name_.c_str(),
                    mayExist_ ? 0 : RENAME_NOREPLACE) == 0)
        return 0;
    if (mayExist_ || (errno != EINVAL && errno != ENOSYS)) return errno;
    // A file system without RENAME_NOREPLACE: a link fails just as well.
    if (::linkat(directory_, temporary_.c_str(), directory_, name_.c_str(), 0) != 0) return errno;
    ::unlinkat(directory_, temporary_.c_str(), 0);
    return 0;
}

void OutputFile::Close() {
    if (file_ == stdout) {
        file_ = nullptr;
        if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return;
        int error = StandardOutputError();
        if (error == EPIPE) throw ToolError(kExitClosedPipe, "");
        throw ToolError(kExitFailed, "cannot write standard output: " + Reason(error));
    }
    int error = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_)) error = error_ != 0 ? error_ : EIO;
    std::fclose(file_);  // the stream's buffer is empty now; the descriptor stays
    file_ = nullptr;
    if (error == 0 && !temporary_.empty() && ::fsync(fd_) != 0) error = errno;
    if (::close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    if (error == 0 && !temporary_.empty()) error = Rename();
    if (error != 0) {
        bool earlier = mayExist_;
        Discard();
        throw ToolError(kExitFailed, "cannot write " + path_ + ": " + Reason(error) +
                                         (earlier ? " (the earlier file is left as it was)" : ""));
    }
    if (!temporary_.empty()) {
        ForgetFileOnStop(Split(path_).first + "/" + temporary_);
        temporary_.clear();
        ::fsync(directory_);  // the rename too outlives a crash
    }
    Discard();
}

int FinishStandardOutput(int code) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
    int error = StandardOutputError();
    if (error == EPIPE) return kExitClosedPipe;
    Say("cannot write standard output: " + Reason(error) + "; output is missing");
    return code == kExitOk ? kExitFailed : code;
}

void RequireDistinctOutputs(const std::vector<std::string>& paths) {
    for (std::size_t i = 0; i < paths.size(); ++i)
        for (std::size_t j = i + 1; j < paths.size(); ++j)
            if (!paths[i].empty() && !paths[j].empty() && SameFile(paths[i], paths[j]))
                throw ToolError(kExitUsage, "two exports to " + Shown(paths[i]) +
                                                ": give each export a file of its own");
}

}  // namespace kestrel_tool

#include "kestrel/output_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kestrel/console.h"
#include "kestrel/exit_codes.h"

namespace kestrel_tool {
namespace {

std::string Shown(const std::string& path) { return path == "-" ? "standard output" : path; }

// A file not yet there: its directory's real path and its name.
std::string Spelled(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char* real = ::realpath(directory.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string text = std::string(real) + "/" + path.substr(slash + 1);
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

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
    file_ = path == "-" ? stdout : std::fopen(path.c_str(), "w");
    if (file_ == nullptr)
        throw ToolError(kExitUsage, "cannot write " + path + ": " + std::strerror(errno));
}

OutputFile::~OutputFile() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
}

void OutputFile::Close() {
    std::FILE* file = file_;
    file_ = nullptr;
    errno = 0;
    bool ok = std::fflush(file) == 0 && !std::ferror(file);
    int error = errno;
    if (file != stdout && std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok) return;
    if (file == stdout && error == EPIPE) throw ToolError(kExitClosedPipe, "");
    throw ToolError(kExitFailed, "cannot write " + Shown(path_) + ": " +
                                     (error != 0 ? std::strerror(error) : "output error"));
}

int FinishStandardOutput(int code) {
    errno = 0;
    bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (ok) return code;
    int error = errno;
    if (error == EPIPE) return kExitClosedPipe;
    Say(std::string("cannot write standard output: ") +
        (error != 0 ? std::strerror(error) : "output error") + "; output is missing");
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

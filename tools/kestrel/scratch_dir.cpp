#include "kestrel/scratch_dir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kestrel/tool_error.h"
#include "kestrel/interrupts.h"

namespace kestrel_tool {
namespace {

constexpr std::size_t kMaxBaseLength = 64;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    std::remove(path);
    return 0;
}

}  // namespace

ScratchDir::ScratchDir() {
    // In $TMPDIR when it is short enough, else /tmp: the driver socket
    // inside must fit a Unix socket address.
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && tmp[0] == '/' && std::strlen(tmp) <= kMaxBaseLength ? tmp : "/tmp";
    std::string pattern = base + "/kestrel-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        throw ToolError(kExitEnvironment,
                        std::string("cannot create a temporary directory: ") + std::strerror(errno));
    path_ = buffer.data();
    RemoveOnStop(path_);
}

ScratchDir::~ScratchDir() {
    ForgetOnStop(path_);
    RemoveTree(path_);
}

void RemoveTree(const std::string& path) { ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

void MakeDirectories(const std::string& path) {
    for (std::size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        std::string prefix = path.substr(0, pos);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            throw ToolError(kExitUsage,
                            "cannot create directory " + prefix + ": " + std::strerror(errno));
        if (pos == std::string::npos) break;
    }
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw ToolError(kExitUsage, path + " is not a directory");
}

}  // namespace kestrel_tool

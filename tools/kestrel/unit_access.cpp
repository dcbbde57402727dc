#include "kestrel/unit_access.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/profile.h"

namespace kestrel_tool {
namespace {

bool InGroup(gid_t group) {
    if (::getegid() == group) return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(NGROUPS_MAX));
    int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<std::size_t>(i)] == group) return true;
    return false;
}

std::string GroupName(gid_t group) {
    const struct group* entry = ::getgrgid(group);
    return entry != nullptr ? entry->gr_name : std::to_string(group);
}

// Why this process cannot create files in `directory` (made when missing);
// empty when it can.
std::string WhyNoNewFiles(const std::string& directory) {
    if (::access(directory.c_str(), W_OK | X_OK) == 0) return std::string();
    if (errno == ENOENT && directory.rfind('/') != std::string::npos && directory.rfind('/') > 0)
        return WhyNoNewFiles(directory.substr(0, directory.rfind('/')));
    return "cannot create files in " + directory + ": " + std::strerror(errno);
}

// Why this process cannot open `path` for writing, or create it when it is
// missing; empty when it can.
std::string WhyNotWritable(const std::string& path) {
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return WhyNoNewFiles(path.substr(0, path.rfind('/')));
    if (::access(path.c_str(), R_OK | W_OK) == 0) return std::string();
    return "cannot write " + path + ": " + std::strerror(errno);
}

// Whether this process has a file of `prefix` mapped (the add-in maps the
// shared block and each mutex).
bool Mapped(const std::string& prefix) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::string::size_type slash = line.find('/');
        if (slash != std::string::npos && line.compare(slash, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

}  // namespace

void RequireUnitAccess(const std::string& windir) {
    struct stat info;
    if (::stat(windir.c_str(), &info) != 0) {
        if (errno == ENOENT) return;  // made by this run, then ours
        throw ToolError(kExitNotAllowed,
                        "not allowed to use the units of " + windir + ": " + std::strerror(errno));
    }
    uid_t user = ::geteuid();
    if (user == 0 || user == info.st_uid || InGroup(info.st_gid)) return;
    throw ToolError(kExitNotAllowed, "not allowed to use the units of " + windir +
                                         ": not in group " + GroupName(info.st_gid));
}

void NoticeWorkingAlone(const std::string& windir) {
    char resolved[PATH_MAX];
    if (::realpath(windir.c_str(), resolved) == nullptr) return;
    std::string kestrel = std::string(resolved) + "/kestrel/";
    std::string shared = kestrel + "shared.state";
    bool alone = !Mapped(shared) || !Mapped(kestrel + "mutex.");
    if (!alone) return;
    std::string why = platform::posix::WindowsDirectoryTrouble(windir);
    if (why.empty()) why = WhyNotWritable(shared);
    if (why.empty()) why = WhyNotWritable(kestrel + "shared.state.init");
    Say("the add-in works alone in this run: it shares no table and no mutex with other "
        "programs of " + windir + (why.empty() ? std::string() : " (" + why + ")"));
}

std::string BecauseNotStored(const std::string& windir) {
    // A write takes the lock file, then replaces the file by a new one.
    std::string why = platform::posix::ProfileWriteTrouble(windir + "/HVNACC32.INI");
    if (why.empty()) why = WhyNotWritable(windir + "/HVNACC32.INI.lock");
    if (why.empty()) why = WhyNoNewFiles(windir);
    return why.empty() ? why : ": " + why;
}

}  // namespace kestrel_tool

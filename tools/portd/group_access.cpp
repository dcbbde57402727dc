#include "portd/group_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/posix/files.h"

namespace portd {
namespace {

constexpr gid_t kNoGroup = static_cast<gid_t>(-1);

struct Peer {
    ucred cred{};
    std::vector<gid_t> groups;  // supplementary groups at connection time
};

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The supplementary groups the client had when it connected; from /proc
// where the kernel cannot say (before Linux 4.13).
std::vector<gid_t> PeerGroups(int fd, pid_t pid) {
    std::vector<gid_t> groups(256);
    socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
#ifdef SO_PEERGROUPS
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
        groups.resize(length / sizeof(gid_t));
        return groups;
    }
#endif
    groups.clear();
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 7, "Groups:") != 0) continue;
        std::istringstream numbers(line.substr(7));
        for (unsigned long id; numbers >> id;) groups.push_back(static_cast<gid_t>(id));
    }
    return groups;
}

std::string UserName(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string Describe(const Peer& peer) {
    std::string program = FirstLine("/proc/" + std::to_string(peer.cred.pid) + "/comm");
    return "uid " + std::to_string(peer.cred.uid) + " (" + UserName(peer.cred.uid) + ") pid " +
           std::to_string(peer.cred.pid) + " (" + (program.empty() ? "?" : program) + ")";
}

}  // namespace

bool ResolveGroup(const std::string& name, gid_t* group, std::string* error) {
    if (const struct group* entry = ::getgrnam(name.c_str())) {
        *group = entry->gr_gid;
        return true;
    }
    char* end = nullptr;
    unsigned long number = std::strtoul(name.c_str(), &end, 10);
    if (!name.empty() && *end == '\0' && number < kNoGroup) {
        *group = static_cast<gid_t>(number);
        return true;
    }
    *error = "no group named " + name;
    return false;
}

std::string GroupName(gid_t group) {
    const struct group* entry = ::getgrgid(group);
    return entry != nullptr ? entry->gr_name : std::to_string(group);
}

bool PrepareWindowsDirectory(const std::string& windir, gid_t chosen, gid_t* group,
                             std::string* error) {
    if (!platform::posix::MakeDirectories(windir)) {
        *error = "cannot create directory " + windir + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (::stat(windir.c_str(), &info) != 0) {
        *error = "cannot read " + windir + ": " + std::strerror(errno);
        return false;
    }
    *group = info.st_gid;
    if (chosen == kNoGroup) return true;
    if (info.st_gid != chosen && ::chown(windir.c_str(), static_cast<uid_t>(-1), chosen) != 0) {
        *error = "cannot give " + windir + " to group " + GroupName(chosen) + ": " +
                 std::strerror(errno);
        return false;
    }
    // Group members create and replace files there; new ones keep the group.
    if ((info.st_mode & 02070) != 02070 && ::chmod(windir.c_str(), (info.st_mode & 07777) | 02070) != 0) {
        *error = "cannot open " + windir + " to group " + GroupName(chosen) + ": " +
                 std::strerror(errno);
        return false;
    }
    *group = chosen;
    return true;
}

bool AdmitClient(int fd, gid_t group, bool verbose) {
    Peer peer;
    socklen_t length = sizeof peer.cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer.cred, &length) != 0) {
        std::fprintf(stderr, "kestrel-portd: refused a client whose credentials cannot be read: %s\n",
                     std::strerror(errno));
        return false;
    }
    peer.groups = PeerGroups(fd, peer.cred.pid);
    bool member = peer.cred.gid == group ||
                  std::find(peer.groups.begin(), peer.groups.end(), group) != peer.groups.end();
    if (peer.cred.uid != 0 && peer.cred.uid != ::geteuid() && !member) {
        std::fprintf(stderr, "kestrel-portd: refused %s: not in group %s\n", Describe(peer).c_str(),
                     GroupName(group).c_str());
        return false;
    }
    if (verbose) std::fprintf(stderr, "kestrel-portd: connection from %s\n", Describe(peer).c_str());
    return true;
}

}  // namespace portd

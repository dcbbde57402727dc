#include "portd/group_access.h"

#include <fcntl.h>
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
#include "portd/service.h"

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

std::string Describe(const Peer& peer) {
    std::string program = FirstLine("/proc/" + std::to_string(peer.cred.pid) + "/comm");
    return ClientName(peer.cred.uid, peer.cred.pid) + " (" + (program.empty() ? "?" : program) + ")";
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


bool PrepareWindowsDirectory(const std::string& windir, gid_t chosen, gid_t* group, std::string* error) {
    using platform::posix::UniqueFd;
    // Its parent is taken as named; the directory itself through no link.
    const std::string parent = platform::posix::DirectoryOf(windir), name = platform::posix::BaseNameOf(windir);
    if (!platform::posix::MakeDirectories(parent, 0755)) {
        *error = "cannot create directory " + parent + ": " + std::strerror(errno);
        return false;
    }
    UniqueFd at = platform::posix::OpenDirectory(parent);
    const bool made = at.valid() && ::mkdirat(at.get(), name.c_str(), 0700) == 0;
    UniqueFd dir(at.valid() ? ::openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1);
    struct stat info;
    if (!dir.valid() || ::fstat(dir.get(), &info) != 0) {
        const int failure = errno;  // the open's, not the look at what is there
        struct stat entry;
        *error = at.valid() && ::fstatat(at.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode)
                     ? windir + " is a symbolic link: give the directory itself"
                     : "cannot open directory " + windir + ": " + std::strerror(failure);
        return false;
    }
    // Whoever owns it, or can write it besides its group, decides what the
    // clients find in it: the socket, the shared block, the profile.
    if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
        *error = windir + " belongs to " + platform::posix::UserName(info.st_uid) + ", not to " +
                 (::geteuid() == 0 ? "root" : "root or to " + platform::posix::UserName(::geteuid())) +
                 ", who serves it";
        return false;
    }
    if (info.st_mode & S_IWOTH) {
        *error = windir + " is writable by others (mode " + platform::posix::ModeText(info.st_mode) +
                 "): make it 2770 (chmod 2770 " + windir + ")";
        return false;
    }
    *group = info.st_gid;
    if (chosen == kNoGroup && !made) return true;
    if (chosen == kNoGroup) chosen = info.st_gid;
    // Ours (or root's), held open: given to the group, setgid so that what
    // members make in it keeps the group.
    if (info.st_gid != chosen && ::fchown(dir.get(), static_cast<uid_t>(-1), chosen) != 0) {
        *error = "cannot give " + windir + " to group " + GroupName(chosen) + ": " + std::strerror(errno);
        return false;
    }
    mode_t mode = made ? 02770 : (info.st_mode & 07777) | 02070;
    if ((info.st_mode & 07777) != mode && ::fchmod(dir.get(), mode) != 0) {
        *error = "cannot open " + windir + " to group " + GroupName(chosen) + ": " + std::strerror(errno);
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

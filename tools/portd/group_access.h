// Who may use the units a kestrel-portd serves: the members of one group
// (by default the Windows directory's own), plus root and the service's
// own user. The socket is made reachable by that group alone, and each
// client's credentials are checked again as it connects.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/posix/files.h"

namespace portd {

// The group `name` (a name or a number). False with a message in *error.
bool ResolveGroup(const std::string& name, gid_t* group, std::string* error);

// "lp", or the number when the group has no name.
using platform::posix::GroupName;

// Creates the Windows directory when missing (setgid, 2770). With a
// `chosen` group (-1: none), gives the directory that group and the setgid
// bit, so that everything made in it later belongs to the group. *group
// is then the group that decides. A directory that is a symbolic link,
// belongs to someone other than root or the service's user, or that others
// can write is refused. False with a message in *error.
bool PrepareWindowsDirectory(const std::string& windir, gid_t chosen, gid_t* group,
                             std::string* error);

// Whether the client on the accepted socket `fd` may use the units: its
// credentials (SO_PEERCRED) name root, our own user or a member of `group`.
// A refusal is logged; with `verbose`, every admitted client too (uid, pid,
// program).
bool AdmitClient(int fd, gid_t group, bool verbose);

}  // namespace portd

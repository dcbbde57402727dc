// Taking a device's socket path for one service, and giving it back.
//
// The socket lives in DIR/dev, a directory of the service's user alone
// (0750, in the group that may use the units): members of the group reach
// the socket but cannot put one of their own in its place, nor plant links
// that the service would follow. An existing dev/ that is a link, belongs to
// someone else, or that its group can write is refused.
//
// A service holds an exclusive flock on "dev/<device>.lock" for its
// lifetime, so two kestrel-portd never fight over one path: the second is
// told that the first is serving. A socket file that nobody answers on is
// left over from a service that died, and is replaced; one that answers
// belongs to some other service and is left alone.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/posix/files.h"

namespace portd {

class SocketClaim {
public:
    // Claims `socketPath` (DIR/dev/NAME) and listens on it, the socket 0660
    // in `group` (-1: the group of DIR). False with a message for people
    // in *error.
    bool Claim(const std::string& socketPath, std::string* error, gid_t group = static_cast<gid_t>(-1));
    // Stops listening and removes the socket (the lock file stays: removing
    // it would let two later services lock two different files).
    void Release();
    ~SocketClaim() { Release(); }

    int listener() const { return listener_.get(); }
    const std::string& path() const { return path_; }

private:
    platform::posix::UniqueFd dev_;
    platform::posix::UniqueFd lock_;
    platform::posix::UniqueFd listener_;
    std::string path_;
    std::string name_;
};

}  // namespace portd

#include "portd/service.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/posix/files.h"
#include "sim/chain.h"

namespace portd {
namespace {

using Clock = Connection::Clock;

// Whether the client at the other end has closed its end (it exited, or
// was killed). Its unread requests are then never performed: nobody waits
// for their answers, and the client that took over from it (an abandoned
// mutex) may already be talking to the units, so a late request of the
// dead one would land in the middle of the new owner's exchange.
bool PeerHungUp(int fd) {
    pollfd entry{fd, POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace

std::string ClientName(uid_t uid, pid_t pid) {
    return "uid " + std::to_string(uid) + " (" + platform::posix::UserName(uid) + ") pid " + std::to_string(pid);
}

Service::Service(sim::Chain& chain, int listener, int stop, ServiceLimits limits)
    : chain_(chain), listener_(listener), stop_(stop), limits_(limits) {}

Service::~Service() {
    for (auto& entry : connections_) ::close(entry.first);
}

bool Service::Run() {
    while (true) {
        const int timeout = Expire();
        std::vector<pollfd> fds;
        fds.push_back({stop_, POLLIN, 0});
        fds.push_back({listener_, POLLIN, 0});
        for (auto& entry : connections_) {
            // A connection whose reply is out waits for its next request;
            // one with a reply pending waits until it can take it.
            short events = entry.second->pending().empty() ? POLLIN : POLLOUT;
            fds.push_back({entry.first, events, 0});
        }
        int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[0].revents != 0) return true;
        if (fds[1].revents & POLLIN) Accept();
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            int fd = fds[i].fd;
            Connection& connection = *connections_.at(fd);
            bool alive = true;
            if (fds[i].revents & POLLOUT) alive = Flush(fd, connection);
            else if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) alive = Read(fd, connection);
            if (!alive) Close(fd);
        }
    }
}

int Service::Expire() {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    std::vector<int> overdue;
    for (auto& entry : connections_) {
        std::optional<Clock::time_point> begun = entry.second->begun();
        if (!begun) continue;
        // Overdue, unless the rest is waiting to be read (the service was
        // the slow one, stopped perhaps).
        pollfd waiting{entry.first, POLLIN, 0};
        if (now >= *begun + limits_.requestTime && ::poll(&waiting, 1, 0) == 0) overdue.push_back(entry.first);
        else next = std::min(next, std::max(now, *begun + limits_.requestTime));
    }
    for (int fd : overdue) {
        Note("closed a connection of " + platform::posix::UserName(connections_.at(fd)->uid()) +
             ": its request was not complete within " + std::to_string(limits_.requestTime.count()) + " ms");
        Close(fd);
    }
    if (next == Clock::time_point::max()) return -1;
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
}

void Service::Accept() {
    while (true) {
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors the waiting client keeps the listener
            // readable, and poll would wake at once for ever: pause a little
            // before trying again, serving the others meanwhile.
            if (errno == EMFILE || errno == ENFILE) ::usleep(10000);
            return;  // EAGAIN: all taken; anything else: try at the next wake-up
        }
        if (admit && !admit(fd)) {
            ::close(fd);
            continue;
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
            ::close(fd);
            continue;
        }
        const std::size_t held = static_cast<std::size_t>(
            std::count_if(connections_.begin(), connections_.end(),
                          [&peer](const auto& entry) { return entry.second->uid() == peer.uid; }));
        if (held >= limits_.perUser || connections_.size() >= limits_.total) {
            Note("refused " + ClientName(peer.uid, peer.pid) + ": " +
                 (held >= limits_.perUser ? "it holds " + std::to_string(held) + " connections, the most one user may"
                                          : std::to_string(connections_.size()) + " connections are open, the most there may be"));
            ::close(fd);
            continue;
        }
        std::uint64_t serial = ++accepted_;
        Connection* connection = new Connection(chain_, peer.uid);
        connections_[fd].reset(connection);
        if (onRequest)
            connection->onRequest = [this, serial](std::uint32_t code, const std::uint8_t* input,
                                                   std::uint32_t length) {
                onRequest(serial, code, input, length);
            };
        if (onConnections) onConnections(connections_.size());
    }
}

bool Service::Read(int fd, Connection& connection) {
    std::uint8_t chunk[65536];
    ssize_t got = ::recv(fd, chunk, std::min(sizeof chunk, connection.Room()), 0);
    if (got < 0) return errno == EINTR || errno == EAGAIN;
    if (got == 0) return false;  // the handle was closed (or nothing is wanted: see Run)
    if (PeerHungUp(fd)) return false;
    if (!connection.Receive(chunk, static_cast<std::size_t>(got), Clock::now())) {
        Note("closed a connection of " + platform::posix::UserName(connection.uid()) +
             ": it announced a request longer than any driver request");
        return false;
    }
    if (connection.PerformNext()) ++requests_;
    return Flush(fd, connection);
}

// Sends what the connection owes. Once its reply is out, the connection
// takes its next request; a client that sends many requests at once waits
// for each reply before the next is read, and does not hold up the others.
bool Service::Flush(int fd, Connection& connection) {
    while (!connection.pending().empty()) {
        const std::vector<std::uint8_t>& out = connection.pending();
        ssize_t sent = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN;
        }
        connection.Sent(static_cast<std::size_t>(sent));
    }
    return !PeerHungUp(fd);
}

void Service::Close(int fd) {
    ::close(fd);
    connections_.erase(fd);
    if (onConnections) onConnections(connections_.size());
}

void Service::Note(const std::string& line) {
    const Clock::time_point now = Clock::now();
    if (!log || now < nextNote_) {
        ++unsaid_;
        return;
    }
    log(line + (unsaid_ != 0 ? " (and " + std::to_string(unsaid_) + " more since the last word)" : ""));
    unsaid_ = 0;
    nextNote_ = now + std::chrono::seconds(1);
}

}  // namespace portd

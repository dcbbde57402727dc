#include "portd/service.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "sim/chain.h"

namespace portd {
namespace {

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

Service::Service(sim::Chain& chain, int listener, int stop)
    : chain_(chain), listener_(listener), stop_(stop) {}

Service::~Service() {
    for (auto& entry : connections_) ::close(entry.first);
}

bool Service::Run() {
    while (true) {
        std::vector<pollfd> fds;
        fds.push_back({stop_, POLLIN, 0});
        fds.push_back({listener_, POLLIN, 0});
        for (auto& entry : connections_) {
            // A connection whose reply is out waits for its next request;
            // one with a reply pending waits until it can take it.
            short events = entry.second->pending().empty() ? POLLIN : POLLOUT;
            fds.push_back({entry.first, events, 0});
        }
        int ready = ::poll(fds.data(), fds.size(), -1);
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
        std::uint64_t serial = ++accepted_;
        serials_[fd] = serial;
        Connection* connection = new Connection(chain_);
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
    ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got < 0) return errno == EINTR || errno == EAGAIN;
    if (got == 0) return false;  // the handle was closed
    if (PeerHungUp(fd)) return false;
    connection.Receive(chunk, static_cast<std::size_t>(got));
    if (connection.PerformNext()) ++requests_;
    return Flush(fd, connection);
}

// Sends what the connection owes. Once its reply is out, a request that
// arrived behind it is performed, and its reply waits for the next round,
// so a client that sends many requests at once does not hold up the others.
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
    if (PeerHungUp(fd)) return false;
    if (connection.PerformNext()) ++requests_;
    return true;
}

void Service::Close(int fd) {
    ::close(fd);
    connections_.erase(fd);
    auto serial = serials_.find(fd);
    if (serial != serials_.end()) {
        if (onClosed) onClosed(serial->second);
        serials_.erase(serial);
    }
    if (onConnections) onConnections(connections_.size());
}

}  // namespace portd

// The service loop of kestrel-portd: any number of client connections, each
// its own driver handle over one shared simulated chain, requests served one
// at a time in arrival order.
//
// The service may run as root, and every member of the group can connect:
// what one client can make it hold is bounded. A user may hold so many
// connections, everyone together so many more (one user cannot lock the
// others out), each connection one request and one reply at most (see
// Connection), and a request begun must be complete within a time limit.
// A connection over a limit is closed at once.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "portd/connection.h"

namespace sim {
class Chain;
}

namespace portd {

// How the log names a client: "uid 1000 (ann) pid 4242".
std::string ClientName(uid_t uid, pid_t pid);

struct ServiceLimits {
    // Each kestrel run holds two (its driver handle and its watch), a
    // program that keeps the add-in loaded one.
    std::size_t perUser = 32;
    std::size_t total = 512;
    // From the first byte of a request to its last: a client sends a
    // request whole, in one write.
    std::chrono::milliseconds requestTime{2000};
};

class Service {
public:
    // `listener`: a listening, non-blocking socket. `stop`: a descriptor
    // that becomes readable when the service should end.
    Service(sim::Chain& chain, int listener, int stop, ServiceLimits limits = {});
    ~Service();

    // Serves until `stop` is readable; false when polling itself failed.
    bool Run();

    // Decides whether an accepted client may use the units; one refused is
    // closed at once. Unset: every client may.
    std::function<bool(int fd)> admit;

    // Called for each connection opened and closed (count after the change).
    std::function<void(std::size_t connections)> onConnections;
    // Says what a limit refused (at most a line a second: a client that
    // tries again and again must not fill the log). Unset: nothing said.
    std::function<void(const std::string& line)> log;

    // Test hook: every request of every connection in the order performed.
    // Connections are numbered from 1 as accepted.
    std::function<void(std::uint64_t connection, std::uint32_t code, const std::uint8_t* input,
                       std::uint32_t length)>
        onRequest;

    std::uint64_t requests() const { return requests_; }

private:
    void Accept();
    // False when the connection is finished with.
    bool Read(int fd, Connection& connection);
    bool Flush(int fd, Connection& connection);
    void Close(int fd);
    // Closes connections whose request is overdue; the poll time-out until
    // the next one is (-1: none).
    int Expire();
    void Note(const std::string& line);

    sim::Chain& chain_;
    int listener_;
    int stop_;
    ServiceLimits limits_;
    std::map<int, std::unique_ptr<Connection>> connections_;
    std::uint64_t accepted_ = 0;
    std::uint64_t requests_ = 0;
    Connection::Clock::time_point nextNote_{};
    std::uint64_t unsaid_ = 0;
};

}  // namespace portd

// The service loop of kestrel-portd: any number of client connections, each
// its own driver handle over one shared simulated chain, requests served one
// at a time in arrival order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "portd/connection.h"

namespace sim {
class Chain;
}

namespace portd {

class Service {
public:
    // `listener`: a listening, non-blocking socket. `stop`: a descriptor
    // that becomes readable when the service should end.
    Service(sim::Chain& chain, int listener, int stop);
    ~Service();

    // Serves until `stop` is readable; false when polling itself failed.
    bool Run();

    // Decides whether an accepted client may use the units; one refused is
    // closed at once. Unset: every client may.
    std::function<bool(int fd)> admit;

    // Called for each connection opened and closed (count after the change).
    std::function<void(std::size_t connections)> onConnections;

    // Test hooks: every request of every connection in the order performed,
    // and each connection's end. Connections are numbered from 1 as accepted.
    std::function<void(std::uint64_t connection, std::uint32_t code, const std::uint8_t* input,
                       std::uint32_t length)>
        onRequest;
    std::function<void(std::uint64_t connection)> onClosed;

    std::uint64_t requests() const { return requests_; }

private:
    void Accept();
    // False when the connection is finished with.
    bool Read(int fd, Connection& connection);
    bool Flush(int fd, Connection& connection);
    void Close(int fd);

    sim::Chain& chain_;
    int listener_;
    int stop_;
    std::map<int, std::unique_ptr<Connection>> connections_;
    std::map<int, std::uint64_t> serials_;
    std::uint64_t accepted_ = 0;
    std::uint64_t requests_ = 0;
};

}  // namespace portd

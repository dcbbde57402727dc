// One client connection of kestrel-portd: one open driver handle. Cuts the
// byte stream into requests, performs each on the connection's own
// emulated driver, and queues the reply.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/driver.h"

namespace portd {

class Connection {
public:
    explicit Connection(sim::Chain& chain);

    // Takes bytes as they arrive. Performs at most one request per call,
    // and none while the previous reply has not gone out yet, so requests
    // are answered one at a time in the order they came.
    void Receive(const std::uint8_t* data, std::size_t length);
    // Performs the next complete request, if any and if the last reply is
    // out. True when it did.
    bool PerformNext();

    // Reply bytes not yet sent; the service sends them and drops what went.
    const std::vector<std::uint8_t>& pending() const { return out_; }
    void Sent(std::size_t length);

    // Sees each well-formed request just before it is performed, so tests
    // can follow the order of requests across connections.
    std::function<void(std::uint32_t code, const std::uint8_t* input, std::uint32_t length)> onRequest;

    sim::EmulatedDriver& driver() { return driver_; }
    std::uint64_t refusedMalformed() const { return malformed_; }

private:
    void Reply(bool ok, const std::uint8_t* output, std::uint32_t length);

    sim::EmulatedDriver driver_;
    std::vector<std::uint8_t> in_;
    std::vector<std::uint8_t> out_;
    // Input of an oversize request still to be skipped, and the refusal
    // owed once it has been.
    std::uint64_t skip_ = 0;
    bool refusalOwed_ = false;
    std::uint64_t malformed_ = 0;
};

}  // namespace portd

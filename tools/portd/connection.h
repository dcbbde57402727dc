// One client connection of kestrel-portd: one open driver handle. Takes the
// byte stream one request at a time, performs each on the connection's own
// emulated driver, and queues the reply.
//
// Whatever a client sends, a connection holds at most one request and one
// reply: it takes no input while a reply is owed, and no more input than
// the request under way announces. A request longer than any driver
// request is refused, and the connection is to be closed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/driver.h"

namespace portd {

class Connection {
public:
    using Clock = std::chrono::steady_clock;

    Connection(sim::Chain& chain, uid_t uid);

    uid_t uid() const { return uid_; }

    // How many bytes it takes now: the rest of the request under way (its
    // header first); none while a reply is owed.
    std::size_t Room() const;
    // Takes bytes read, at most Room(). False when the request announces
    // more input or output than any driver request has: it is refused, and
    // the connection is to be closed.
    bool Receive(const std::uint8_t* data, std::size_t length, Clock::time_point now);
    // Performs the request, if it is complete and the last reply is out.
    // True when it did.
    bool PerformNext();
    // When the request under way began to arrive; none when no request is
    // under way.
    std::optional<Clock::time_point> begun() const { return begun_; }

    // Reply bytes not yet sent; the service sends them and drops what went.
    const std::vector<std::uint8_t>& pending() const { return out_; }
    void Sent(std::size_t length);

    // Sees each well-formed request just before it is performed, so tests
    // can follow the order of requests across connections.
    std::function<void(std::uint32_t code, const std::uint8_t* input, std::uint32_t length)> onRequest;

private:
    std::size_t Wanted() const;

    sim::EmulatedDriver driver_;
    uid_t uid_;
    std::vector<std::uint8_t> in_;
    std::vector<std::uint8_t> out_;
    std::optional<Clock::time_point> begun_;
};

}  // namespace portd

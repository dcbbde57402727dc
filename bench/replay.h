// One operation's driver requests, captured from the platform double and
// issued again with no add-in around them: the floor that the add-in's own
// work is measured against.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/worlds.h"
#include "sim/driver.h"
#include "support/fake_os.h"

namespace bench {

struct Capture {
    bool ok = false;                  // the operation succeeded
    std::uint64_t requests = 0;       // driver requests it made
    std::uint64_t refused = 0;        // of those, refused by the driver
    std::uint64_t pauses = 0;         // sleeps it took
    std::uint64_t mutexAcquisitions = 0;
    std::vector<fake::FakeOs::Request> log;
};

// Runs the operation once with the request log on.
Capture CaptureOne(World world, OpRunner& run);

class Replay {
public:
    Replay(sim::Chain& chain, std::vector<fake::FakeOs::Request> requests);
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    // Every request once, straight into an emulated driver of its own.
    void Run();
    // Every request once through the platform double's driver hop, on the
    // add-in's own handle: what the double itself adds to each request.
    void RunThroughOs(fake::FakeOs& os, std::intptr_t handle);
    std::size_t size() const { return requests_.size(); }

private:
    sim::EmulatedDriver driver_;
    std::vector<fake::FakeOs::Request> requests_;
    std::vector<std::uint8_t> out_;
    std::vector<std::uint8_t> in_;
    const fake::FakeOs::Request* current_ = nullptr;
};

}  // namespace bench

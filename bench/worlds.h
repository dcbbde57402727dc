// The add-in on the simulated chain, on the fake clock (fake::Rig) or on
// the real one (RealWorld), and the operations run on either.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "addin/kestrel.h"
#include "bench/scenarios.h"
#include "sim/chain.h"
#include "support/fake_os.h"
#include "support/rig.h"

namespace bench {

// The platform double with the native platform's clock: ticks and sleeps
// are real, so the 1 ms pauses of the handshake cost what they cost.
class RealClockOs : public fake::FakeOs {
public:
    std::uint32_t TickCount() override;
    void SleepMs(std::uint32_t ms) override;
};

// fake::Rig's counterpart on the real clock; the units see the same clock.
class RealWorld {
public:
    RealClockOs os;

private:
    fake::Installed installed_{os};

public:
    std::unique_ptr<sim::Chain> chain;
    Kestrel addin;

    RealWorld();
};

// What the benchmarks need of either world.
struct World {
    fake::FakeOs& os;
    sim::Chain& chain;
    Kestrel& addin;
};

template <class W>
World Of(W& w) {
    return {w.os, *w.chain, w.addin};
}

// Puts the op's chain in place and, for the operations on an open add-in,
// opens the driver and enumerates. False when the enumeration did not find
// what the op needs.
bool Prepare(World world, Op op, Protocol protocol);

// Runs one op; false when it did not succeed.
class OpRunner {
public:
    OpRunner(World world, Op op);
    bool operator()();

private:
    World world_;
    Op op_;
    ChainLayout layout_;  // what the enumerating ops must find
    std::vector<std::uint32_t> buffer_;
};

// Empties what grows with every exchange (the units' command logs, the
// captured trace), so long runs keep a steady footprint.
void Housekeep(World world);
constexpr std::size_t kHousekeepEvery = 256;  // runs between two in a measured loop

}  // namespace bench

// The simulated MCB chain on one printer port: units at MCB numbers 9 to
// 16, each present or absent, all on one clock. The emulated driver
// reaches it by unit byte (bit 3: mailbox space, bits 0-2: MCB number - 9).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/clock.h"
#include "sim/unit.h"
#include "sim/unit_config.h"

namespace sim {

constexpr int kFirstMcb = 9;
constexpr int kLastMcb = 16;

class Chain {
public:
    // `clock` defaults to a steady clock; `epoch` (the units' calendar
    // time at construction, seconds since 1970) to the PC's time.
    explicit Chain(Clock clock = {}, std::optional<std::int64_t> epoch = {});

    // Two units, as in the demo: MCB 9 a type-5 segment unit with two
    // inputs of 4096 channels, MCB 12 a type-4 four-device unit (see demo.h).
    static std::unique_ptr<Chain> demo(Clock clock = {}, std::optional<std::int64_t> epoch = {});
    static std::unique_ptr<Chain> fromConfig(const ChainConfig& config, Clock clock = {});

    // Puts a unit at an MCB number (replacing one there). Null for a
    // number outside 9 to 16.
    Unit* addUnit(int mcb, const UnitConfig& config);
    void removeUnit(int mcb);
    Unit* unit(int mcb);
    const Unit* unit(int mcb) const;

    AbsentBehaviour absentBehaviour = AbsentBehaviour::FloatingBus;

    // Device memory as the port driver reaches it; unit bytes above 15 are
    // the driver's to refuse and read as 0xFF here.
    void read(std::uint32_t unitByte, std::uint32_t address, std::uint8_t* out, std::uint32_t length);
    void write(std::uint32_t unitByte, std::uint32_t address, const std::uint8_t* data, std::uint32_t length);

    // Brings every unit up to the clock, counts in spectra included (for
    // tests that look at units without going through the driver).
    void sync();
    Instant now();

    // Held by read, write and sync; take it to change units while other
    // threads drive the chain.
    std::mutex& mutex() { return mutex_; }

private:
    Instant nowLocked();

    Clock clock_;
    std::int64_t epoch_;
    std::uint32_t lastMs_;
    std::uint64_t elapsedMs_ = 0;
    std::array<std::unique_ptr<Unit>, kLastMcb - kFirstMcb + 1> units_;
    std::uint8_t lastPortByte_ = 0xFF;
    std::vector<std::uint8_t> sharedMemory_;
    std::mutex mutex_;
};

}  // namespace sim

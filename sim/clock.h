// Where the simulator takes its time from.
#pragma once

#include <cstdint>
#include <functional>

namespace sim {

// Milliseconds that wrap at 2^32, like the PC's tick counter. Tests hand
// the simulator the same fake clock the add-in runs on.
using Clock = std::function<std::uint32_t()>;

// Milliseconds of std::chrono::steady_clock.
Clock SteadyClock();

// A moment as a unit sees it: the tick count and the unit's calendar clock
// (seconds since 1970-01-01 00:00 UTC).
struct Instant {
    std::uint32_t ms = 0;
    std::int64_t seconds = 0;
};

}  // namespace sim

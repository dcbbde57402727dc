// Time on POSIX: the millisecond tick counter, sleeping, and the calendar.
#pragma once

#include <cstdint>

namespace platform {
namespace posix {

// Milliseconds of CLOCK_MONOTONIC, cut to 32 bits (wraps after 49.7 days
// like GetTickCount; callers compare by unsigned subtraction).
std::uint32_t TickCount();
// Sleeps at least `ms` milliseconds, signals notwithstanding.
void SleepMs(std::uint32_t ms);
// Seconds since 1970-01-01 00:00 UTC.
std::int64_t TimeNow();

}  // namespace posix
}  // namespace platform

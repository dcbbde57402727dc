#include "platform/posix/clock.h"

#include <cerrno>
#include <ctime>

namespace platform {
namespace posix {

std::uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                       static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void SleepMs(std::uint32_t ms) {
    timespec remaining{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

std::int64_t TimeNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace posix
}  // namespace platform

#include "sim/clock.h"

#include <chrono>

namespace sim {

Clock SteadyClock() {
    return [] {
        auto since = std::chrono::steady_clock::now().time_since_epoch();
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
        return static_cast<std::uint32_t>(ms);
    };
}

}  // namespace sim

// What SetROI and ClearROI return: done, refused by the MCB, or the
// detector (or its view) not usable; otherwise the LocalErr of the failed
// exchange.
#pragma once

#include <cstdint>

constexpr std::int32_t ROI_DONE = 1;
constexpr std::int32_t ROI_REFUSED = -6;
constexpr std::int32_t ROI_INVALID = -1;

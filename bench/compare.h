// Timing an operation against its floor on a busy machine: the bodies run
// in alternating blocks, and each one's fastest block counts, so a burst of
// load elsewhere cannot land on one side only.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "bench/calibration.h"
#include "bench/worlds.h"

namespace bench {

struct Comparison {
    std::size_t perBlock = 1;         // runs of each body per block
    std::size_t blocks = 1;           // blocks of each body
    std::vector<double> seconds;      // per body: fastest block, per run
};

// About `runs` runs of each body in all, in blocks of about `blockSeconds`
// (judged from `secondsPerRun` of the slowest body); the logs are emptied
// between blocks, untimed.
Comparison Compare(World world, Timing timing, std::size_t runs, double secondsPerRun,
                   const std::vector<std::function<void()>>& bodies, double blockSeconds = 0.002);

}  // namespace bench

#include "bench/compare.h"

#include <algorithm>
#include <limits>

namespace bench {

namespace {

constexpr std::size_t kMaxBlocks = 30;

}  // namespace

Comparison Compare(World world, Timing timing, std::size_t runs, double secondsPerRun,
                   const std::vector<std::function<void()>>& bodies, double blockSeconds) {
    Comparison result;
    runs = std::max<std::size_t>(runs, 1);
    if (secondsPerRun > 0 && secondsPerRun < blockSeconds)
        result.perBlock = std::min(runs, static_cast<std::size_t>(blockSeconds / secondsPerRun));
    result.blocks = std::clamp<std::size_t>(runs / result.perBlock, 1, kMaxBlocks);
    result.seconds.assign(bodies.size(), std::numeric_limits<double>::infinity());
    for (std::size_t block = 0; block < result.blocks; ++block) {
        for (std::size_t body = 0; body < bodies.size(); ++body) {
            const double start = NowSeconds(timing);
            for (std::size_t i = 0; i < result.perBlock; ++i) bodies[body]();
            const double perRun = (NowSeconds(timing) - start) / static_cast<double>(result.perBlock);
            result.seconds[body] = std::min(result.seconds[body], perRun);
            Housekeep(world);
        }
    }
    return result;
}

}  // namespace bench

#include "sim/spectrum_model.h"

#include <algorithm>

namespace sim {

namespace {

// Lorentzian line in integer arithmetic, so every platform computes the
// very same counts.
std::uint64_t Line(std::uint64_t height, std::uint64_t width, std::int64_t distance) {
    std::uint64_t w2 = width * width;
    std::uint64_t d2 = static_cast<std::uint64_t>(distance * distance);
    return height * w2 / (w2 + d2);
}

}  // namespace

SpectrumModel::SpectrumModel(std::uint32_t channels, int input) : rate_(channels) {
    const std::int64_t n = channels;
    const std::int64_t first = n * (3 + input % 3) / 10;
    const std::int64_t second = n * (6 + input % 2) / 10 + input * 7;
    const std::uint64_t width = std::max<std::int64_t>(2, n / 256);
    for (std::int64_t c = 0; c < n; ++c) {
        std::uint64_t background = 1500 + 6000 * static_cast<std::uint64_t>(n - c) / static_cast<std::uint64_t>(n);
        rate_[c] = background + Line(400000, width, c - first) + Line(150000, width, c - second);
    }
}

std::uint64_t SpectrumModel::counts(std::uint32_t channel, std::uint64_t liveMs) const {
    if (channel >= rate_.size()) return 0;
    return rate_[channel] * liveMs / 1000000;
}

}  // namespace sim

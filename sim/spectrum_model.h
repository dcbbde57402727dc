// The counts a simulated detector collects: two peaks over a falling
// background, as a pure function of counting time, so a spectrum read
// after any sequence of updates holds the same counts.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

class SpectrumModel {
public:
    // `input` (0-based) shifts the peaks so inputs look different.
    SpectrumModel(std::uint32_t channels, int input);

    // Counts of a channel after `liveMs` of counting.
    std::uint64_t counts(std::uint32_t channel, std::uint64_t liveMs) const;
    std::uint32_t channels() const { return static_cast<std::uint32_t>(rate_.size()); }

private:
    std::vector<std::uint64_t> rate_;  // counts per 1000 s
};

}  // namespace sim

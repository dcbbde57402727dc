// Chain descriptions the tool tests serve with --sim.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel_tool_test {

// MCB 9: a segment unit, two inputs of 2048 channels, both stopped, with
// 100 s and 250 s of counts; data mask 0x00FFFFFF. MCB 12: a four-device
// unit of 16384 channels per device (what the add-in assumes of one), device 3 stopped with 50 s of counts.
// Named values in the INI file (feature words 0).
extern const char* const kStoppedChain;
constexpr std::uint32_t kSegmentChannels = 2048;
constexpr std::uint64_t kSegmentLiveMs[2] = {100000, 250000};
constexpr std::uint32_t kDeviceChannels = 16384;
constexpr std::uint64_t kDevice3LiveMs = 50000;
constexpr std::uint32_t kDataMask = 0x00FFFFFF;

// Writes `text` to `path` and returns the path.
std::string WriteChain(const std::string& path, const char* text);

}  // namespace kestrel_tool_test

// Chain descriptions the tool tests serve with --sim.
#pragma once

#include <cstdint>
#include <string>

#include "posix/temp_dir.h"

namespace kestrel_tool_test {

// MCB 9: a segment unit, two stopped inputs of 2048 channels with 100 s and
// 250 s of counts. MCB 12: a four-device unit of 16384 channels per device
// (what the add-in assumes of one), device 3 stopped with 50 s of counts.
// Data masks 0x00FFFFFF; no start times; named values in the INI file.
inline const char* const kStoppedChain = R"(
[unit 9]
version = 0919-005
detectors = 2
channels = 2048
data_mask = 0x00FFFFFF
aux_mask = 0xFF000000
[unit 9 detector 1]
live_ms = 100000
[unit 9 detector 2]
live_ms = 250000
[unit 12]
type = 4
version = 8474-001
channels = 16384
[unit 12 detector 3]
live_ms = 50000
)";
constexpr std::uint32_t kSegmentChannels = 2048;
constexpr std::uint64_t kSegmentLiveMs[2] = {100000, 250000};
constexpr std::uint32_t kDeviceChannels = 16384;
constexpr std::uint64_t kDevice3LiveMs = 50000;
constexpr std::uint32_t kDataMask = 0x00FFFFFF;

// Writes `text` to `path` and returns the path.
inline std::string WriteChain(const std::string& path, const char* text) {
    kestrel_test::WriteText(path, text);
    return path;
}

}  // namespace kestrel_tool_test

// Chain descriptions the tool tests serve with --sim.
#pragma once

#include <cstdint>
#include <string>

#include "posix/temp_dir.h"

namespace kestrel_tool_test {

// MCB 9: a segment unit, two stopped inputs of 2048 channels with 100 s and 250 s of counts. MCB 12: a
// four-device unit of 16384 channels per device (what the add-in assumes of one), device 3 stopped with 50
// s of counts. Data masks 0x00FFFFFF; no start times; named values in the INI file.
inline const char* const kStoppedChain =
    "[unit 9]\nversion = 0919-005\ndetectors = 2\nchannels = 2048\ndata_mask = 0x00FFFFFF\naux_mask = 0xFF000000\n"
    "[unit 9 detector 1]\nlive_ms = 100000\n[unit 9 detector 2]\nlive_ms = 250000\n"
    "[unit 12]\ntype = 4\nversion = 8474-001\nchannels = 16384\n[unit 12 detector 3]\nlive_ms = 50000\n";
constexpr std::uint32_t kSegmentChannels = 2048, kDeviceChannels = 16384, kDataMask = 0x00FFFFFF;
constexpr std::uint64_t kSegmentLiveMs[2] = {100000, 250000}, kDevice3LiveMs = 50000;

// Writes `text` to `path` and returns the path.
inline std::string WriteChain(const std::string& path, const char* text) {
    kestrel_test::WriteText(path, text);
    return path;
}

}  // namespace kestrel_tool_test

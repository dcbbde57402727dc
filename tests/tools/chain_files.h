// Chain descriptions the tool tests serve with --sim.
#pragma once

#include <cstdint>
#include <string>

#include "posix/temp_dir.h"

namespace kestrel_tool_test {

// Unit clocks start at kEpoch in every run. MCB 9: a segment unit keeping its start stamps and values
// itself, two stopped inputs of 2048 channels with 100 s and 250 s of counts, each with kestrel's record
// of its run. MCB 12: a four-device unit of 16384 channels per device (what the add-in assumes of one),
// keeping start stamps, its values in the INI file; device 3 stopped with 50 s of counts at a time nobody
// recorded, the others never started. Data masks 0x00FFFFFF.
constexpr std::uint32_t kEpoch = 1000000000;
inline const char* const kStoppedChain =
    "[chain]\nepoch = 1000000000\n"
    "[unit 9]\nversion = 0919-005\ndetectors = 2\nchannels = 2048\nfeatures = 0x110000\ndata_mask = 0x00FFFFFF\n"
    "aux_mask = 0xFF000000\nstart = 999990000\n[unit 9 detector 1]\nlive_ms = 100000\n"
    "app.KESTREL_RUN = 999990000 999990100 0\n[unit 9 detector 2]\nlive_ms = 250000\napp.KESTREL_RUN = 999990000 999990250 0\n"
    "[unit 12]\ntype = 4\nversion = 8474-001\nchannels = 16384\nfeatures = 0x10000\n"
    "[unit 12 detector 3]\nlive_ms = 50000\nstart = 999990000\n";
constexpr std::uint32_t kSegmentChannels = 2048, kDeviceChannels = 16384, kDataMask = 0x00FFFFFF;
constexpr std::uint64_t kSegmentLiveMs[2] = {100000, 250000}, kDevice3LiveMs = 50000;

// Writes `text` to `path` and returns the path.
inline std::string WriteChain(const std::string& path, const char* text) {
    kestrel_test::WriteText(path, text);
    return path;
}

}  // namespace kestrel_tool_test

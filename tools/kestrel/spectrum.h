// Reading a run of a detector's channels through the add-in, in chunks,
// with what the exports say about where the counts came from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestrel/addin.h"

namespace kestrel_tool {

struct Spectrum {
    int mcb = 0;
    int det = 0;
    int view = 0;
    std::uint32_t start = 0;           // first channel of the run
    std::vector<std::uint32_t> words;  // raw channel words as read
    std::uint32_t dataMask = 0;
    std::uint32_t auxMask = 0;
    // Context for the exports.
    std::string version;
    std::string description;
    std::uint32_t id = 0;
    std::uint32_t startTime = 0;  // acquisition start, seconds since 1970
    std::uint32_t readTime = 0;   // when it was read, on the same clock

    std::uint32_t Counts(std::size_t i) const { return words[i] & dataMask; }
    std::uint64_t Total() const;
};

constexpr std::uint32_t kReadChunk = 1024;

// Reads `count` channels from `start`. Throws ToolError (failed) when the
// add-in refuses a chunk.
Spectrum ReadSpectrum(Addin& addin, int mcb, int det, std::uint32_t start, std::uint32_t count,
                      int view, bool showProgress);

}  // namespace kestrel_tool

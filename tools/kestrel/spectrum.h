// Reading a run of a detector's channels through the add-in, in chunks,
// with what the exports say about where the counts came from.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kestrel/acquisition.h"
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
    AcquisitionTimes times;  // as the unit reported them after the read

    std::uint32_t Counts(std::size_t i) const { return words[i] & dataMask; }
    // The units mark the channels of a region of interest with the top bit
    // of the auxiliary mask outside the data mask. A unit whose channel
    // words carry no such bit (a type-4 unit, whose top byte is its
    // mailbox, reports an auxiliary mask of 0) shows no marks: 0.
    bool InRoi(std::size_t i) const { return (words[i] & RoiBit()) != 0; }
    std::uint32_t RoiBit() const {
        std::uint32_t bit = 0x80000000u;
        while (bit != 0 && (auxMask & ~dataMask & bit) == 0) bit >>= 1;
        return bit;
    }
    // The marked runs, as first and last channel.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> RoiRuns() const;
    std::uint32_t LastChannel() const {
        return start + static_cast<std::uint32_t>(words.size()) - 1;
    }
    // "MCB 9 detector 2".
    std::string Name() const;
    std::uint64_t Total() const;
};

constexpr std::uint32_t kReadChunk = 1024;

// Reads `count` channels from `start`. Throws ToolError (failed) when the
// add-in refuses a chunk.
Spectrum ReadSpectrum(Addin& addin, int mcb, int det, std::uint32_t start, std::uint32_t count,
                      int view, bool showProgress);

}  // namespace kestrel_tool

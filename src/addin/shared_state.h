// The block every client process shares: the system-wide open count and one
// record per MCB number 9 to 16. Plain fixed-width fields only: the block is
// mapped into every process, so it may hold no pointers and no constructors.
#pragma once

#include <cstdint>
#include <type_traits>

constexpr int MCB_FIRST = 9;
constexpr int MCB_LAST = 16;
constexpr int MCB_COUNT = 8;
constexpr int MAX_DETECTORS = 16;
constexpr int FEATURE_WORDS = 16;
constexpr int VERSION_CHARS = 8;

// Feature bits that the add-in itself tests.
constexpr std::uint32_t FEAT0_MCB_CLOCK = 0x00010000;     // word 0: MCB keeps start date/time
constexpr std::uint32_t FEAT0_MCB_APPDATA = 0x00100000;   // word 0: named values live in the MCB
constexpr std::uint32_t FEAT1_DETS_DIFFER = 0x00002000;   // word 1 of detector 1
constexpr std::uint32_t FEAT2_VIEWS = 0x20000000;         // word 2: detector has views
constexpr std::uint32_t FEAT3_EXTENDED = 0x80000000;      // word 3: SHOW_FEAT_EXTE available

struct McbRecord {
    std::int32_t nDetectors;
    std::uint16_t wTotalChannels;
    std::uint32_t dwDataMask[MAX_DETECTORS];
    std::uint32_t dwAuxMask[MAX_DETECTORS];
    std::uint16_t wChannels[MAX_DETECTORS];
    std::int32_t tStartTime[MAX_DETECTORS];
    std::uint32_t dwLock[MAX_DETECTORS];
    std::uint32_t dwDetectorWord[MAX_DETECTORS];
    char szVersion[VERSION_CHARS + 1];
    std::uint32_t dwFeatures[MAX_DETECTORS][FEATURE_WORDS];
    std::int32_t nMailboxType;
    std::int32_t bResponding;
    std::int32_t bDevices;
    std::int32_t nCurDevSeg;
    std::int32_t nCurView;
    std::uint32_t dwProbeTick;
    std::uint32_t dwViewTick;
};

struct SharedState {
    std::int32_t nSystemOpenCount;
    McbRecord records[MCB_COUNT];
};

static_assert(std::is_trivially_copyable<SharedState>::value,
              "the shared block must be plain data");
// Every process must agree on the layout, whatever compiler built it.
static_assert(sizeof(McbRecord) == 1424, "McbRecord layout changed");
static_assert(sizeof(SharedState) == 4 + 8 * 1424, "SharedState layout changed");

// The record of an MCB number, or null outside 9 to 16.
McbRecord* RecordOf(SharedState& state, int nMcb);

// What the benchmarks measure: the operations, the chains they run on and
// the two driver protocols.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sim/unit_config.h"

namespace bench {

enum class Protocol { Nt, Win95 };
const char* ProtocolName(Protocol protocol);
constexpr Protocol kProtocols[] = {Protocol::Nt, Protocol::Win95};

// The chains: no driver at all, a driver on an empty chain, one unit at
// MCB 9, or eight units of every kind the probe distinguishes.
enum class ChainKind { NoDriver, Empty, Single, Full };
using ChainLayout = std::map<int, sim::UnitConfig>;  // by MCB number
ChainLayout MakeChain(ChainKind kind);

constexpr int kUnitMcb = 9;     // the unit of the single chain
constexpr int kAbsentMcb = 10;  // nothing answers there in the single chain
constexpr int kUnitChannels = 16384;
constexpr int kGetChannels = 16384;
constexpr int kSetChannels = 1024;
constexpr std::uint32_t kRoiStart = 100;
constexpr std::uint32_t kRoiLength = 50;

enum class Op {
    ShowVers,        // one "SHOW_VERS" exchange through mcb_dialog
    ProbePresent,    // ProbeMcb of the unit
    ProbeAbsent,     // ProbeMcb of a number where nothing answers
    InitEmpty,       // InitDetectors, driver open, no unit
    InitFull,        // InitDetectors on eight units
    SetRoi,          // SetROI with the selection already in force
    SetRoiReselect,  // SetROI after InvalidateMcb: the segment is selected again
    GetData,         // GetData of kGetChannels channels
    SetData,         // SetData of kSetChannels channels
    StartupNoDriver, // Open to the end of InitDetectors, then Close
    StartupEmpty,
    StartupFull,
};

struct OpInfo {
    Op op;
    const char* id;    // in benchmark names
    const char* name;  // in the count table
    ChainKind chain;
    bool startup;  // Open and Close rather than an operation on an open add-in
};

const std::vector<OpInfo>& Operations();
const OpInfo& Info(Op op);

}  // namespace bench

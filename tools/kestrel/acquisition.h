// An input's acquisition as the unit reports it: counting or not, when it
// started, and the real time that follows from those. The units report no
// live or dead time.
#pragma once

#include <cstdint>
#include <string>

#include "kestrel/addin.h"

namespace kestrel_tool {

// Where `kestrel stop` keeps the stop time of an input, on the clock of its
// start time; `kestrel start` empties it.
constexpr const char* kStopStampName = "KESTREL_STOP";

struct AcquisitionTimes {
    bool active = false;
    bool activeKnown = false;  // the unit answered; otherwise `active` is a guess
    std::uint32_t start = 0;   // seconds since 1970; 0: none known
    std::uint32_t now = 0;     // on the clock of `start`
    std::uint32_t stop = 0;    // recorded by `kestrel stop`; 0: none
    bool realKnown = false;
    std::uint32_t realSeconds = 0;
    std::string realUnknownWhy;  // when !realKnown

    // "30 s", or "unknown (why)".
    std::string RealText() const;
};

AcquisitionTimes ReadAcquisitionTimes(Addin& addin, int mcb, int det);

// Said wherever live time is asked for.
constexpr const char* kLiveTimeUnreported = "not reported by the unit (nor dead time)";

}  // namespace kestrel_tool

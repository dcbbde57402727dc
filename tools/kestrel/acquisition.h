// An input's acquisition: counting or not, when it started, and the real
// time that follows from those and from kestrel's record of its runs; and
// the changes (start, stop, clear) that keep that record true. The units
// report no live or dead time.
#pragma once

#include <cstdint>
#include <string>

#include "kestrel/addin.h"

namespace kestrel_tool {

// The named value where kestrel keeps the record of an input's run:
// "START STOP EARLIER", the start time of the run it belongs to (on the
// clock of the reported start time), when kestrel stopped it (0: it did
// not), and the real time in seconds of the earlier runs whose counts the
// spectrum still holds ("?": not known). A record of another start time is
// no record: someone else started a run since.
constexpr const char* kRunRecordName = "KESTREL_RUN";

struct AcquisitionTimes {
    bool active = false;
    bool activeKnown = false;  // the unit answered; otherwise `active` is a guess
    bool neverStarted = false;  // the unit keeps start stamps and has none
    std::uint32_t start = 0;   // seconds since 1970; 0: none known
    std::uint32_t now = 0;     // on the clock of `start`
    std::uint32_t stop = 0;    // when kestrel stopped this run; 0: none recorded
    bool earlierKnown = true;
    std::uint32_t earlier = 0;  // real time of earlier runs still in the spectrum
    bool realKnown = false;
    bool realGiven = false;  // by the user (--real-time), not recorded
    std::uint32_t realSeconds = 0;
    std::string realUnknownWhy;  // when !realKnown

    // "30 s", "62 s (30 s of it in earlier runs)", "0 s (never started)",
    // or "unknown (why)".
    std::string RealText() const;
    // The live time and how it was found.
    std::string LiveText() const;
};

// How the live time is found, for every record of it.
constexpr const char* kLiveTimeDerived =
    "the unit reports no live or dead time: the live time is the real time (no dead time known)";

AcquisitionTimes ReadAcquisitionTimes(Addin& addin, int mcb, int det);

// Sends `command` to the input. Throws ToolError (failed) when the exchange
// fails or the MCB refuses it.
void SendToInput(Addin& addin, int mcb, int det, const std::string& command);

// A new run from `before`, the input's times now (which is not counting,
// unless `clear`): the unit restamps its start at START only, so a counting
// input is stopped first. Without `clear` the spectrum keeps its counts and
// the real time carries on from theirs. Returns the times after.
AcquisitionTimes StartRun(Addin& addin, int mcb, int det, bool clear, const AcquisitionTimes& before);
// Stops a counting input and records when.
AcquisitionTimes StopRun(Addin& addin, int mcb, int det, const AcquisitionTimes& before);
// Clears the spectrum of an input that is not counting: its real time is 0.
AcquisitionTimes ClearStopped(Addin& addin, int mcb, int det, const AcquisitionTimes& before);

}  // namespace kestrel_tool

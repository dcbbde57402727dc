#include "kestrel/acquisition.h"

#include <cstdlib>
#include <vector>

#include "addin/shared_state.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/reply_text.h"

namespace kestrel_tool {
namespace {

struct RunRecord {
    std::uint32_t start = 0, stop = 0;
    bool earlierKnown = true;
    std::uint32_t earlier = 0;
};

bool Number(const char** text, std::uint32_t* value) {
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(*text, &end, 10);
    if (end == *text || parsed > 0xFFFFFFFFull) return false;
    *value = static_cast<std::uint32_t>(parsed);
    *text = end;
    return true;
}

RunRecord ReadRecord(Addin& addin, int mcb, int det) {
    std::string stored = addin.AppData(mcb, det, kRunRecordName);
    const char* text = stored.c_str();
    RunRecord record;
    if (!Number(&text, &record.start) || !Number(&text, &record.stop)) return RunRecord{};
    record.earlierKnown = Number(&text, &record.earlier);
    return record;
}

void WriteRecord(Addin& addin, int mcb, int det, const RunRecord& record) {
    std::string text = std::to_string(record.start) + " " + std::to_string(record.stop) + " " +
                       (record.earlierKnown ? std::to_string(record.earlier) : "?");
    if (record.start == 0 || !addin.SetAppData(mcb, det, kRunRecordName, text))
        Say("could not record the run of " + DetectorName(mcb, det) + ": its real time will be unknown");
}

}  // namespace

std::string AcquisitionTimes::RealText() const {
    if (!realKnown) return "unknown (" + realUnknownWhy + ")";
    std::string note = neverStarted ? "never started"
                       : realGiven  ? "given with --real-time"
                       : earlier != 0 ? std::to_string(earlier) + " s of it in earlier runs"
                                      : "";
    return std::to_string(realSeconds) + " s" + (note.empty() ? "" : " (" + note + ")");
}

std::string AcquisitionTimes::LiveText() const {
    if (!realKnown) return "unknown (the unit reports no live time, and the real time is unknown)";
    return std::to_string(realSeconds) + " s (equal to the real time: the unit reports no dead time)";
}

AcquisitionTimes ReadAcquisitionTimes(Addin& addin, int mcb, int det) {
    AcquisitionTimes times;
    std::int32_t status = 0;
    times.active = addin.IsActive(mcb, det, &status);
    times.activeKnown = status == 1;
    times.start = addin.StartTime(mcb, det, &times.now);
    RunRecord record = ReadRecord(addin, mcb, det);
    if (times.start != 0 && record.start == times.start) {
        times.stop = record.stop;
        times.earlierKnown = record.earlierKnown;
        times.earlier = record.earlier;
    }
    auto known = [&](std::uint32_t end) {
        times.realKnown = true;
        times.realSeconds = times.earlier + (end - times.start);
    };
    std::string& why = times.realUnknownWhy;
    if (!times.activeKnown) {
        why = "the unit does not say whether it is counting";
    } else if (times.start == 0) {
        std::vector<std::uint32_t> features = addin.Features(mcb, det);
        times.neverStarted =
            !times.active && !features.empty() && (features[0] & FEAT0_MCB_CLOCK) != 0;
        times.realKnown = times.neverStarted;
        if (!times.neverStarted) why = "no start time is known";
    } else if (!times.earlierKnown) {
        why = "the spectrum holds counts of earlier runs whose real time is not known";
    } else if (times.active) {
        if (times.now >= times.start) known(times.now);
        else why = "the clock is behind the start time";
    } else if (times.stop >= times.start) {
        known(times.stop);
    } else {
        why = "stopped at a time kestrel did not record";
    }
    return times;
}

void SendToInput(Addin& addin, int mcb, int det, const std::string& command) {
    CommandResult result = addin.SendCommand(mcb, det, command);
    if (!result.completed)
        throw ToolError(kExitFailed, "\"" + command + "\" for " + DetectorName(mcb, det) + " failed (" +
                                         ResultWord(result.localErr) + ")");
    if (result.localErr != kLocalErrAccepted)
        throw ToolError(kExitFailed, "MCB " + std::to_string(mcb) + " refused \"" + command +
                                         "\" (status " + std::to_string(result.localErr) + " " +
                                         std::to_string(result.status2) + ")");
}

AcquisitionTimes StartRun(Addin& addin, int mcb, int det, bool clear, const AcquisitionTimes& before) {
    // Each step recorded as it is done: a START refused after the CLEAR
    // leaves an empty spectrum of real time 0, not the old run's times.
    if (clear) ClearStopped(addin, mcb, det, before.active ? StopRun(addin, mcb, det, before) : before);
    RunRecord record;
    record.earlierKnown = clear || before.realKnown;
    record.earlier = clear ? 0 : before.realSeconds;
    SendToInput(addin, mcb, det, "START");
    // The PC-side stamp, for units that keep none of their own.
    addin.SetStartTime(mcb, det);
    std::uint32_t now = 0;
    record.start = addin.StartTime(mcb, det, &now);
    WriteRecord(addin, mcb, det, record);
    return ReadAcquisitionTimes(addin, mcb, det);
}

AcquisitionTimes StopRun(Addin& addin, int mcb, int det, const AcquisitionTimes& before) {
    SendToInput(addin, mcb, det, "STOP");
    RunRecord record{before.start, 0, before.earlierKnown, before.earlier};
    addin.StartTime(mcb, det, &record.stop);
    if (record.stop == 0) record.start = 0;  // no clock to record it on
    WriteRecord(addin, mcb, det, record);
    return ReadAcquisitionTimes(addin, mcb, det);
}

AcquisitionTimes ClearStopped(Addin& addin, int mcb, int det, const AcquisitionTimes& before) {
    SendToInput(addin, mcb, det, "CLEAR");
    if (before.start != 0) WriteRecord(addin, mcb, det, RunRecord{before.start, before.start, true, 0});
    return ReadAcquisitionTimes(addin, mcb, det);
}

}  // namespace kestrel_tool

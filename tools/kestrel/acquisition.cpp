#include "kestrel/acquisition.h"

#include <cstdlib>

namespace kestrel_tool {

std::string AcquisitionTimes::RealText() const {
    return realKnown ? std::to_string(realSeconds) + " s" : "unknown (" + realUnknownWhy + ")";
}

AcquisitionTimes ReadAcquisitionTimes(Addin& addin, int mcb, int det) {
    AcquisitionTimes times;
    std::int32_t status = 0;
    times.active = addin.IsActive(mcb, det, &status);
    times.activeKnown = status == 1;
    times.start = addin.StartTime(mcb, det, &times.now);
    std::string stop = addin.AppData(mcb, det, kStopStampName);
    times.stop = static_cast<std::uint32_t>(std::strtoul(stop.c_str(), nullptr, 10));

    auto known = [&](std::uint32_t end) {
        times.realKnown = true;
        times.realSeconds = end - times.start;
    };
    if (times.start == 0)
        times.realUnknownWhy = "no start time is known";
    else if (!times.activeKnown)
        times.realUnknownWhy = "the unit does not say whether it is counting";
    else if (times.active && times.now >= times.start)
        known(times.now);
    else if (times.active)
        times.realUnknownWhy = "the clock is behind the start time";
    else if (times.stop >= times.start)
        known(times.stop);
    else
        times.realUnknownWhy = "stopped at a time kestrel did not record";
    return times;
}

}  // namespace kestrel_tool

#include "kestrel/export_json.h"

#include <nlohmann/json.hpp>

#include "kestrel/time_text.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {
namespace {

using json = nlohmann::ordered_json;  // keys in the order written

json Time(std::uint32_t seconds) { return seconds ? json(seconds) : json(nullptr); }

json Times(const AcquisitionTimes& times) {
    json out;
    out["active"] = times.activeKnown ? json(times.active) : json(nullptr);
    out["never_started"] = times.neverStarted;
    out["start"] = Time(times.start);
    out["start_utc"] = times.start ? json(UtcTimeText(times.start)) : json(nullptr);
    out["now"] = Time(times.now);
    out["stop"] = Time(times.stop);  // recorded by kestrel
    out["real_s"] = times.realKnown ? json(times.realSeconds) : json(nullptr);
    if (!times.realKnown) out["real_unknown_why"] = times.realUnknownWhy;
    if (times.realGiven) out["real_given"] = true;  // with --real-time
    out["earlier_runs_s"] = times.earlierKnown ? json(times.earlier) : json(nullptr);
    // The units report no live or dead time: the live time is the real time.
    out["live_s"] = out["real_s"];
    out["live_is_real"] = true;
    out["dead_s"] = nullptr;
    return out;
}

void Print(std::FILE* out, const json& value) {
    std::fprintf(out, "%s\n", value.dump(2).c_str());
}

}  // namespace

void PrintUnitsJson(std::FILE* out, const std::vector<UnitInfo>& units) {
    json list = json::array();
    for (const UnitInfo& unit : units) {
        json inputs = json::array();
        for (const DetectorInfo& info : unit.inputs) {
            json masks = info.masksKnown ? json{{"data", info.dataMask}, {"aux", info.auxMask}}
                                         : json(nullptr);
            inputs.push_back({{"detector", info.det},
                              {"description", Utf8Text(info.description)},
                              {"description_default", info.descriptionDefault},
                              {"identifier", info.id},
                              {"identifier_default", info.idDefault},
                              {"channels", info.channels},
                              {"features", info.features},
                              {"masks", masks},
                              {"lock", info.lock},
                              {"lock_owner", Utf8Text(info.owner)},
                              {"times", Times(info.times)}});
        }
        list.push_back({{"mcb", unit.mcb},
                        {"version", Utf8Text(unit.version)},
                        {"detector_count", unit.detectors},
                        {"detectors", inputs}});
    }
    Print(out, list);
}

void PrintSpectrumJson(std::FILE* out, const Spectrum& spectrum) {
    std::vector<std::uint32_t> counts;
    counts.reserve(spectrum.words.size());
    for (std::size_t i = 0; i < spectrum.words.size(); ++i) counts.push_back(spectrum.Counts(i));
    Print(out, {{"mcb", spectrum.mcb},
                {"detector", spectrum.det},
                {"description", Utf8Text(spectrum.description)},
                {"identifier", spectrum.id},
                {"view", spectrum.view},
                {"first_channel", spectrum.start},
                {"total", spectrum.Total()},
                {"times", Times(spectrum.times)},
                // [first, last] channel pairs; null: the words carry no ROI marks
                {"roi", spectrum.RoiBit() != 0 ? json(spectrum.RoiRuns()) : json(nullptr)},
                {"counts", counts}});
}

}  // namespace kestrel_tool

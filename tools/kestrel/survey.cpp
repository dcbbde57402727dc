#include "kestrel/survey.h"

#include "kestrel/time_text.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {
namespace {

constexpr int kFirstMcb = 9;
constexpr int kLastMcb = 16;
constexpr std::size_t kShownFeatureWords = 8;

std::string FeatureText(const std::vector<std::uint32_t>& words) {
    if (words.empty()) return "unknown";
    std::string text;
    for (std::size_t i = 0; i < words.size() && i < kShownFeatureWords; ++i) {
        char word[12];
        std::snprintf(word, sizeof word, "%s%08X", i ? " " : "", words[i]);
        text += word;
    }
    return text;
}

}  // namespace

DetectorInfo SurveyDetector(Addin& addin, int mcb, int det) {
    DetectorInfo info;
    info.mcb = mcb;
    info.det = det;
    info.channels = addin.DetectorChannels(mcb, det);
    info.features = addin.Features(mcb, det);
    // A read of no channels reports the masks and moves nothing.
    info.masksKnown =
        addin.GetData(mcb, det, 0, 0, 0, nullptr, &info.dataMask, &info.auxMask) == 1;
    info.lock = addin.Lock(mcb, det, &info.owner);
    addin.Description(mcb, det, &info.description, &info.descriptionDefault);
    addin.DetectorId(mcb, det, &info.id, &info.idDefault);
    info.times = ReadAcquisitionTimes(addin, mcb, det);
    return info;
}

std::vector<UnitInfo> SurveyUnits(Addin& addin, int onlyMcb, int onlyDet) {
    std::vector<UnitInfo> units;
    for (int mcb = kFirstMcb; mcb <= kLastMcb; ++mcb) {
        if (onlyMcb != 0 && mcb != onlyMcb) continue;
        int count = addin.DetectorCount(mcb);
        if (count <= 0) continue;
        UnitInfo unit;
        unit.mcb = mcb;
        unit.version = addin.McbVersion(mcb);
        unit.detectors = count;
        for (int det = 1; det <= count && det <= 16; ++det)
            if (onlyDet == 0 || det == onlyDet) unit.inputs.push_back(SurveyDetector(addin, mcb, det));
        units.push_back(std::move(unit));
    }
    return units;
}

void PrintDetector(std::FILE* out, const DetectorInfo& info) {
    std::fprintf(out, "  detector %d: %s%s\n", info.det, TerminalText(info.description).c_str(),
                 info.descriptionDefault ? " (default description)" : "");
    std::fprintf(out, "    identifier   %u%s\n", info.id, info.idDefault ? " (default)" : "");
    std::fprintf(out, "    channels     %u\n", info.channels);
    std::fprintf(out, "    features     %s\n", FeatureText(info.features).c_str());
    if (info.masksKnown)
        std::fprintf(out, "    masks        data 0x%08X  aux 0x%08X\n", info.dataMask,
                     info.auxMask);
    else
        std::fprintf(out, "    masks        unknown (the read of the masks failed)\n");
    if (info.lock == 0 && info.owner.empty())
        std::fprintf(out, "    lock         0 (free)\n");
    else
        std::fprintf(out, "    lock         %u owner \"%s\"\n", info.lock, TerminalText(info.owner).c_str());
    const AcquisitionTimes& times = info.times;
    std::fprintf(out, "    active       %s%s\n", times.active ? "yes" : "no",
                 times.activeKnown ? "" : " (no answer from the MCB: assumed)");
    std::fprintf(out, "    start time   %s (now %s)\n", LocalTimeText(times.start).c_str(),
                 LocalTimeText(times.now).c_str());
    if (!times.active && times.stop != 0)
        std::fprintf(out, "    stopped      %s (recorded by kestrel)\n", LocalTimeText(times.stop).c_str());
    std::fprintf(out, "    real time    %s\n", times.RealText().c_str());
    std::fprintf(out, "    live time    %s\n", times.LiveText().c_str());
}

void PrintUnits(std::FILE* out, const std::vector<UnitInfo>& units) {
    for (const UnitInfo& unit : units) {
        std::fprintf(out, "MCB %d: version %s, %d detector%s\n", unit.mcb, TerminalText(unit.version).c_str(),
                     unit.detectors, unit.detectors == 1 ? "" : "s");
        for (const DetectorInfo& info : unit.inputs) PrintDetector(out, info);
    }
}

}  // namespace kestrel_tool

// What the add-in knows of the units and their detectors, gathered through
// the interface for `list` and the demo.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kestrel/acquisition.h"
#include "kestrel/addin.h"

namespace kestrel_tool {

struct DetectorInfo {
    int mcb = 0;
    int det = 0;
    std::uint32_t channels = 0;
    std::vector<std::uint32_t> features;
    bool masksKnown = false;
    std::uint32_t dataMask = 0;
    std::uint32_t auxMask = 0;
    std::uint32_t lock = 0;
    std::string owner;
    std::string description;
    bool descriptionDefault = true;
    std::uint32_t id = 0;
    bool idDefault = true;
    AcquisitionTimes times;
};

struct UnitInfo {
    int mcb = 0;
    std::string version;
    int detectors = 0;
    std::vector<DetectorInfo> inputs;
};

DetectorInfo SurveyDetector(Addin& addin, int mcb, int det);
// Every MCB number 9 to 16 that has detectors; with `onlyMcb` (and
// `onlyDet`) not 0, that one alone.
std::vector<UnitInfo> SurveyUnits(Addin& addin, int onlyMcb = 0, int onlyDet = 0);

void PrintDetector(std::FILE* out, const DetectorInfo& info);
void PrintUnits(std::FILE* out, const std::vector<UnitInfo>& units);

}  // namespace kestrel_tool

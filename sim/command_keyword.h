// Recognises the keyword of an MCB command. Each word of a keyword may be
// cut down to its first four letters ("SHOW_FEAT_EXTE" is
// SHOW_FEATURES_EXTENDED), and case does not matter.
#pragma once

#include <string>
#include <string_view>

namespace sim {

enum class Keyword {
    Unknown,
    ShowVersion,
    ShowConfiguration,
    ShowFeatures,
    ShowFeaturesExtended,
    ShowConfigurationMask,
    SetDevice,
    SetSegment,
    SetView,
    SetRoi,
    SetWindow,
    ClearRoi,
    ShowActive,
    ShowActiveDevices,
    ShowDate,
    ShowTime,
    ShowDateStart,
    ShowTimeStart,
    ShowDataApp,
    SetDataApp,
    Start,
    Stop,
    Clear,
};

struct ParsedCommand {
    Keyword keyword = Keyword::Unknown;
    std::string word;       // the keyword as written
    std::string arguments;  // what follows the first blank, if anything
};

ParsedCommand ParseCommand(std::string_view text);

}  // namespace sim

#include "sim/command_keyword.h"

#include <cctype>
#include <vector>

namespace sim {

namespace {

struct Entry {
    Keyword keyword;
    const char* full;
};

constexpr Entry kKeywords[] = {
    {Keyword::ShowVersion, "SHOW_VERSION"},
    {Keyword::ShowConfiguration, "SHOW_CONFIGURATION"},
    {Keyword::ShowFeatures, "SHOW_FEATURES"},
    {Keyword::ShowFeaturesExtended, "SHOW_FEATURES_EXTENDED"},
    {Keyword::ShowConfigurationMask, "SHOW_CONFIGURATION_MASK"},
    {Keyword::SetDevice, "SET_DEVICE"},
    {Keyword::SetSegment, "SET_SEGMENT"},
    {Keyword::SetView, "SET_VIEW"},
    {Keyword::SetRoi, "SET_ROI"},
    {Keyword::SetWindow, "SET_WINDOW"},
    {Keyword::ClearRoi, "CLEAR_ROI"},
    {Keyword::ShowActive, "SHOW_ACTIVE"},
    {Keyword::ShowActiveDevices, "SHOW_ACTIVE_DEVICES"},
    {Keyword::ShowDate, "SHOW_DATE"},
    {Keyword::ShowTime, "SHOW_TIME"},
    {Keyword::ShowDateStart, "SHOW_DATE_START"},
    {Keyword::ShowTimeStart, "SHOW_TIME_START"},
    {Keyword::ShowDataApp, "SHOW_DATA_APP"},
    {Keyword::SetDataApp, "SET_DATA_APP"},
    {Keyword::Start, "START"},
    {Keyword::Stop, "STOP"},
    {Keyword::Clear, "CLEAR"},
};

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t from = 0;
    for (;;) {
        std::size_t cut = text.find('_', from);
        words.push_back(text.substr(from, cut == std::string_view::npos ? cut : cut - from));
        if (cut == std::string_view::npos) return words;
        from = cut + 1;
    }
}

// A written word stands for a full word when it is the full word's start
// and at least four letters long (or the whole word, if that is shorter).
bool Abbreviates(std::string_view written, std::string_view full) {
    if (written.size() > full.size() || written.size() < std::min<std::size_t>(4, full.size())) return false;
    for (std::size_t i = 0; i < written.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(written[i])) != full[i]) return false;
    return true;
}

bool Matches(std::string_view written, std::string_view full) {
    std::vector<std::string_view> a = Words(written), b = Words(full);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!Abbreviates(a[i], b[i])) return false;
    return true;
}

}  // namespace

ParsedCommand ParseCommand(std::string_view text) {
    ParsedCommand parsed;
    std::size_t blank = text.find(' ');
    parsed.word = std::string(text.substr(0, blank));
    if (blank != std::string_view::npos) parsed.arguments = std::string(text.substr(blank + 1));
    for (const Entry& entry : kKeywords)
        if (Matches(parsed.word, entry.full)) parsed.keyword = entry.keyword;
    return parsed;
}

}  // namespace sim

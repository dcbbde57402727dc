// A text without the blanks around it, as the profile, the registry file
// and the simulator's configuration and commands all read their fields.
#pragma once

#include <string>
#include <string_view>

// Blanks are those of isspace in the C locale, whatever the locale.
inline std::string Trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\n\v\f\r";
    const std::string_view::size_type begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos) return std::string();
    return std::string(text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1));
}

// A text without the blanks around it, as the profile, the registry file
// and the simulator's configuration and commands all read their fields.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Blanks are those of isspace in the C locale, whatever the locale.
inline std::string Trim(std::string_view text) {
    constexpr std::string_view BLANKS = " \t\n\v\f\r";
    const std::size_t nBegin = text.find_first_not_of(BLANKS);
    if (nBegin == std::string_view::npos) return std::string();
    return std::string(text.substr(nBegin, text.find_last_not_of(BLANKS) - nBegin + 1));
}

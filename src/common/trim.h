// A text without the blanks around it, as the profile, the registry file
// and the simulator's configuration and commands all read their fields.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the profile and registry files count as blanks around a field.
constexpr std::string_view LINE_BLANKS = " \t\r\n";
// isspace in the C locale, whatever the locale: what the simulator's
// configuration and command parsers skip.
constexpr std::string_view C_SPACES = " \t\n\v\f\r";

inline std::string Trim(std::string_view text, std::string_view blanks = LINE_BLANKS) {
    const std::size_t nBegin = text.find_first_not_of(blanks);
    if (nBegin == std::string_view::npos) return std::string();
    return std::string(text.substr(nBegin, text.find_last_not_of(blanks) - nBegin + 1));
}

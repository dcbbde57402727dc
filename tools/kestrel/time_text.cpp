#include "kestrel/time_text.h"

#include <ctime>

namespace kestrel_tool {
namespace {

std::string Format(std::uint32_t seconds, bool utc, const char* format) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (utc ? ::gmtime_r(&t, &tm) == nullptr : ::localtime_r(&t, &tm) == nullptr) return "?";
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

}  // namespace

std::string LocalTimeText(std::uint32_t seconds) {
    return seconds == 0 ? "none" : Format(seconds, false, "%Y-%m-%d %H:%M:%S");
}

std::string UtcTimeText(std::uint32_t seconds) {
    return seconds == 0 ? std::string() : Format(seconds, true, "%Y-%m-%dT%H:%M:%SZ");
}

}  // namespace kestrel_tool

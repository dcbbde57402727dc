#include "sim/commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "common/trim.h"
#include "sim/command_keyword.h"

namespace sim {

namespace {

Reply Refuse(int first) {
    Reply reply;
    reply.first = first;
    return reply;
}

Reply Text(std::string text) {
    Reply reply;
    reply.texts.push_back(std::move(text));
    return reply;
}

std::optional<long long> Integer(std::string_view text, bool allowSign) {
    std::string s = Trim(text, C_SPACES);
    std::size_t i = 0;
    if (allowSign && !s.empty() && (s[0] == '-' || s[0] == '+')) i = 1;
    if (i == s.size() || s.size() - i > 10) return std::nullopt;
    for (std::size_t k = i; k < s.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(s[k]))) return std::nullopt;
    return std::strtoll(s.c_str(), nullptr, 10);
}

// "%u, %u": two unsigned 32-bit numbers separated by a comma.
std::optional<std::pair<std::uint32_t, std::uint32_t>> TwoNumbers(std::string_view args) {
    std::size_t comma = args.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    auto a = Integer(args.substr(0, comma), false);
    auto b = Integer(args.substr(comma + 1), false);
    if (!a || !b || *a > 0xFFFFFFFFLL || *b > 0xFFFFFFFFLL) return std::nullopt;
    return std::make_pair(static_cast<std::uint32_t>(*a), static_cast<std::uint32_t>(*b));
}

// "\"name\"" or "\"name\",\"value\"" (the value runs to the closing quote at the end).
std::optional<std::string> Quoted(std::string_view args) {
    if (args.size() < 2 || args.front() != '"' || args.back() != '"') return std::nullopt;
    std::string_view inner = args.substr(1, args.size() - 2);
    if (inner.find('"') != std::string_view::npos) return std::nullopt;
    return std::string(inner);
}

std::optional<std::pair<std::string, std::string>> QuotedPair(std::string_view args) {
    if (args.empty() || args.front() != '"') return std::nullopt;
    std::size_t close = args.find('"', 1);
    if (close == std::string_view::npos || args.substr(close, 3) != "\",\"" || args.back() != '"' ||
        args.size() < close + 4)
        return std::nullopt;
    std::string name(args.substr(1, close - 1));
    std::string value(args.substr(close + 3, args.size() - close - 4));
    return std::make_pair(name, value);
}

std::string Format(const char* format, unsigned a, unsigned b, unsigned c) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::tm LocalTime(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

// "$N" and three 3-digit fields: day, month, year of the century; or
// hour, minute, second. No stamp gives zeros, which no date can be.
std::string DateReply(std::optional<std::int64_t> seconds, bool date) {
    if (!seconds) return "$N000000000";
    std::tm tm = LocalTime(*seconds);
    // The year of the century stays 0 to 99 also for a clock set before
    // year 0.
    if (date) return Format("$N%03u%03u%03u", tm.tm_mday, tm.tm_mon + 1, ((tm.tm_year + 1900) % 100 + 100) % 100);
    return Format("$N%03u%03u%03u", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// "$C", the 5-digit mask and a 3-digit sum of the characters before it.
std::string ActivityReply(unsigned mask) {
    std::string text = Format("$C%05u", mask & 0xFFFF, 0, 0);
    unsigned sum = 0;
    for (char c : text) sum += static_cast<unsigned char>(c);
    return text + Format("%03u", sum & 255, 0, 0);
}

class Interpreter {
public:
    Interpreter(UnitState& unit, Instant now) : unit_(unit), now_(now) {}

    Reply run(const ParsedCommand& command) {
        if (!takesArguments(command.keyword) && !Trim(command.arguments, C_SPACES).empty()) return Refuse(kStatusBadArgument);
        const std::string& args = command.arguments;
        DetectorState& det = unit_.detector(unit_.selected);
        switch (command.keyword) {
            case Keyword::ShowVersion: return Text("$F" + (unit_.config().version + "        ").substr(0, 8));
            case Keyword::ShowConfiguration: return configuration();
            case Keyword::ShowFeatures: return features(det, 0);
            case Keyword::ShowFeaturesExtended: return features(det, 4);
            case Keyword::ShowConfigurationMask:
                return Text(Format("CONF_MASK %u %u", det.config.dataMask, det.config.auxMask, 0));
            case Keyword::SetDevice: return select(args, unit_.fourDevice());
            case Keyword::SetSegment: return select(args, !unit_.fourDevice());
            case Keyword::SetView: return setView(args, det);
            case Keyword::SetRoi: return roi(args, false);
            case Keyword::SetWindow: return roi(args, true);
            case Keyword::ClearRoi: return clearRoi(det);
            case Keyword::ShowActive: return activity(false);
            case Keyword::ShowActiveDevices: return activity(true);
            case Keyword::ShowDate: return Text(DateReply(unit_.unitSeconds(), true));
            case Keyword::ShowTime: return Text(DateReply(unit_.unitSeconds(), false));
            case Keyword::ShowDateStart: return Text(DateReply(det.startStamp, true));
            case Keyword::ShowTimeStart: return Text(DateReply(det.startStamp, false));
            case Keyword::ShowDataApp: return showData(args, det);
            case Keyword::SetDataApp: return setData(args, det);
            case Keyword::Start: unit_.start(unit_.selected, now_); return {};
            case Keyword::Stop: unit_.stop(unit_.selected, now_); return {};
            case Keyword::Clear: unit_.clear(unit_.selected); return {};
            case Keyword::Unknown: break;
        }
        return Refuse(kStatusUnknownCommand);
    }

private:
    static bool takesArguments(Keyword k) {
        return k == Keyword::SetDevice || k == Keyword::SetSegment || k == Keyword::SetView ||
               k == Keyword::SetRoi || k == Keyword::SetWindow || k == Keyword::ShowDataApp ||
               k == Keyword::SetDataApp || k == Keyword::Unknown;
    }

    Reply configuration() {
        const UnitConfig& c = unit_.config();
        std::uint64_t total = c.reportTotal.value_or(static_cast<std::uint64_t>(c.channels) * unit_.detectorCount());
        std::uint64_t count = c.reportDetectors.value_or(unit_.detectorCount());
        std::string text = Format("$J%05u%05u", static_cast<unsigned>(std::min<std::uint64_t>(total, 99999)),
                                  static_cast<unsigned>(std::min<std::uint64_t>(count, 99999)), 0);
        text.resize(96, ' ');
        return Text(text);
    }

    static Reply features(const DetectorState& det, int first) {
        char text[64];
        const auto& w = det.config.features;
        std::snprintf(text, sizeof text, "FEAT %u %u %u %u", w[first], w[first + 1], w[first + 2], w[first + 3]);
        return Text(text);
    }

    // "SET_DEVI" on a four-device unit, "SET_SEGM" on a segment unit: the
    // other one is not part of that unit's language.
    Reply select(const std::string& args, bool known) {
        if (!known) return Refuse(kStatusUnknownCommand);
        auto n = Integer(args, true);
        if (!n || *n < 1 || *n > unit_.detectorCount()) return Refuse(kStatusBadArgument);
        unit_.selected = static_cast<int>(*n);
        return {};
    }

    Reply setView(const std::string& args, const DetectorState& det) {
        auto n = Integer(args, true);
        if (!n || *n < 0 || *n >= det.config.views) return Refuse(kStatusBadArgument);
        unit_.view = static_cast<int>(*n);
        return {};
    }

    Reply roi(const std::string& args, bool window) {
        auto numbers = TwoNumbers(args);
        if (!numbers || numbers->first >= unit_.channels()) return Refuse(kStatusBadArgument);
        DetectorState& det = unit_.detector(unit_.selected);
        if (window) {
            det.windowStart = numbers->first;
            det.windowLength = numbers->second;
            det.haveWindow = true;
        } else {
            unit_.markRoi(unit_.selected, numbers->first, numbers->second, true);
        }
        return {};
    }

    Reply clearRoi(const DetectorState& det) {
        if (det.haveWindow)
            unit_.markRoi(unit_.selected, det.windowStart, det.windowLength, false);
        else
            unit_.markRoi(unit_.selected, 0, unit_.channels(), false);
        return {};
    }

    // "SHOW_ACTI_DEVI" (four-device units) reports every device; "SHOW_ACTI"
    // reports every segment of a segment unit, but only the selected device
    // (as bit 0) of a four-device unit.
    Reply activity(bool devices) {
        if (devices && !unit_.fourDevice()) return Refuse(kStatusUnknownCommand);
        unsigned mask = 0;
        if (unit_.fourDevice() && !devices) {
            mask = unit_.detector(unit_.selected).acquiring ? 1 : 0;
        } else {
            for (int d = 1; d <= unit_.detectorCount() && d <= 16; ++d)
                if (unit_.detector(d).acquiring) mask |= 1u << (d - 1);
        }
        return Text(ActivityReply(mask));
    }

    static Reply showData(const std::string& args, const DetectorState& det) {
        auto name = Quoted(args);
        if (!name) return Refuse(kStatusBadArgument);
        auto found = det.config.appData.find(*name);
        if (found == det.config.appData.end()) return Refuse(kStatusNoValue);
        return Text("$F" + found->second + "\r\n");
    }

    static Reply setData(const std::string& args, DetectorState& det) {
        auto pair = QuotedPair(args);
        if (!pair || pair->first.empty()) return Refuse(kStatusBadArgument);
        // A unit's memory for values is finite (and a service's must be).
        if (det.config.appData.size() >= kMaxAppValues && det.config.appData.count(pair->first) == 0)
            return Refuse(kStatusBadArgument);
        det.config.appData[pair->first] = pair->second;
        return {};
    }

    UnitState& unit_;
    Instant now_;
};

}  // namespace

Reply Execute(UnitState& unit, std::string_view command, Instant now) {
    return Interpreter(unit, now).run(ParseCommand(command));
}

}  // namespace sim

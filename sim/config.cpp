#include "sim/config.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "common/trim.h"

namespace sim {

namespace {

constexpr std::uint32_t kType4DataMask = 0x00FFFFFF;

// A line without its comment: "#" or ";" at its start, or after a blank,
// begins one that runs to the end of the line.
std::string_view Uncommented(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i)
        if ((line[i] == '#' || line[i] == ';') && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
            return line.substr(0, i);
    return line;
}

std::vector<std::string> Split(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> parts;
    for (std::string part; in >> part;) parts.push_back(part);
    return parts;
}

// Decimal or 0x-hexadecimal, optionally negative, within [low, high].
std::optional<std::int64_t> Number(const std::string& text, std::int64_t low, std::int64_t high) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (text.size() > i + 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        int digit;
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return std::nullopt;
        if (value > (1ull << 58)) return std::nullopt;
        value = value * base + digit;
    }
    std::int64_t result = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
    if (result < low || result > high) return std::nullopt;
    return result;
}

std::optional<bool> Boolean(const std::string& text) {
    if (text == "yes" || text == "true" || text == "1" || text == "on") return true;
    if (text == "no" || text == "false" || text == "0" || text == "off") return false;
    return std::nullopt;
}

// The keys of an input, as given in a unit section or a detector section.
using DetectorKeys = std::vector<std::pair<std::string, std::string>>;

struct UnitDraft {
    UnitConfig config;
    DetectorKeys common;
    std::map<int, DetectorKeys> perDetector;
    std::map<int, int> detectorLine;  // where each detector section starts
};

class Parser {
public:
    std::optional<ChainConfig> parse(std::string_view text, std::string* error) {
        std::istringstream in{std::string(text)};
        std::string raw;
        while (std::getline(in, raw)) {
            ++line_;
            std::string content = Trim(Uncommented(raw), C_SPACES);
            if (content.empty()) continue;
            bool good = content[0] == '[' ? header(content) : entry(content);
            if (!good) return fail(error);
        }
        if (!finish()) return fail(error);
        return config_;
    }

private:
    std::optional<ChainConfig> fail(std::string* error) {
        if (error) *error = (line_ > 0 ? "line " + std::to_string(line_) + ": " : std::string()) + message_;
        return std::nullopt;
    }

    bool problem(std::string message) {
        message_ = std::move(message);
        return false;
    }

    bool header(const std::string& content) {
        if (content.back() != ']') return problem("section header without closing ']'");
        std::vector<std::string> words = Split(content.substr(1, content.size() - 2));
        section_ = Section::None;
        if (words.size() == 1 && words[0] == "chain") {
            section_ = Section::Chain;
            return true;
        }
        if ((words.size() == 2 || words.size() == 4) && words[0] == "unit") {
            auto mcb = Number(words[1], 9, 16);
            if (!mcb) return problem("unit number '" + words[1] + "' is not an MCB number 9 to 16");
            mcb_ = static_cast<int>(*mcb);
            if (words.size() == 2) {
                // Its detector sections may come before it.
                if (!unitSections_.insert(mcb_).second) return problem("unit " + words[1] + " is described twice");
                drafts_[mcb_];
                section_ = Section::Unit;
                return true;
            }
            if (words[2] != "detector") return problem("expected [unit N detector D]");
            auto d = Number(words[3], 1, kMaxDetectors);
            if (!d) return problem("detector number '" + words[3] + "' is not 1 to 16");
            detector_ = static_cast<int>(*d);
            UnitDraft& draft = drafts_[mcb_];
            if (draft.perDetector.count(detector_))
                return problem("detector " + words[3] + " of unit " + words[1] + " is described twice");
            draft.perDetector[detector_];
            draft.detectorLine[detector_] = line_;
            section_ = Section::Detector;
            return true;
        }
        return problem("unknown section '" + content + "'");
    }

    bool entry(const std::string& content) {
        std::size_t equals = content.find('=');
        if (equals == std::string::npos) return problem("expected 'key = value'");
        std::string key = Trim(content.substr(0, equals), C_SPACES);
        std::string value = Trim(content.substr(equals + 1), C_SPACES);
        if (key.empty()) return problem("missing key before '='");
        switch (section_) {
            case Section::None: return problem("'" + key + "' outside any section");
            case Section::Chain: return chainKey(key, value);
            case Section::Unit: return unitKey(drafts_[mcb_], key, value);
            case Section::Detector:
                if (!DetectorKey(key)) return problem("unknown key '" + key + "' in a detector section");
                if (!validDetectorKey(key, value)) return false;
                drafts_[mcb_].perDetector[detector_].emplace_back(key, value);
                return true;
        }
        return false;
    }

    bool chainKey(const std::string& key, const std::string& value) {
        if (key == "absent") {
            if (value == "floating") config_.absent = AbsentBehaviour::FloatingBus;
            else if (value == "echo") config_.absent = AbsentBehaviour::EchoPort;
            else if (value == "shared") config_.absent = AbsentBehaviour::SharedMemory;
            else return problem("absent must be floating, echo or shared, not '" + value + "'");
            return true;
        }
        if (key == "epoch") {
            auto n = Number(value, 0, 0xFFFFFFFFll);
            if (!n) return problem("epoch must be seconds since 1970, not '" + value + "'");
            config_.epoch = *n;
            return true;
        }
        return problem("unknown key '" + key + "' in [chain]");
    }

    static bool DetectorKey(const std::string& key) {
        return key == "features" || key == "data_mask" || key == "aux_mask" || key == "views" ||
               key == "acquiring" || key == "live_ms" || key == "start" ||
               (key.rfind("app.", 0) == 0 && key.size() > 4);
    }

    bool unitKey(UnitDraft& draft, const std::string& key, const std::string& value) {
        UnitConfig& unit = draft.config;
        if (DetectorKey(key)) {
            if (!validDetectorKey(key, value)) return false;
            draft.common.emplace_back(key, value);
            return true;
        }
        if (key == "version") {
            if (value.size() != 8) return problem("version must be 8 characters, not '" + value + "'");
            unit.version = value;
            return true;
        }
        std::optional<std::int64_t> n;
        if (key == "type") {
            n = Number(value, 4, 5);
            if (!n) return problem("type must be 4 or 5, not '" + value + "'");
            unit.mailboxType = static_cast<int>(*n);
        } else if (key == "detectors") {
            n = Number(value, 1, kMaxDetectors);
            if (!n) return problem("detectors must be 1 to 16, not '" + value + "'");
            unit.detectors = static_cast<int>(*n);
        } else if (key == "channels") {
            n = Number(value, 1, kMaxChannels);
            if (!n) return problem("channels must be 1 to 65536, not '" + value + "'");
            unit.channels = static_cast<std::uint32_t>(*n);
        } else if (key == "report_total" || key == "report_detectors") {
            n = Number(value, 0, 99999);
            if (!n) return problem(key + " must be 0 to 99999, not '" + value + "'");
            (key == "report_total" ? unit.reportTotal : unit.reportDetectors) = static_cast<std::uint32_t>(*n);
        } else if (key == "clock_offset") {
            n = Number(value, -(1ll << 40), 1ll << 40);
            if (!n) return problem("clock_offset must be a number of seconds, not '" + value + "'");
            unit.clockOffset = *n;
        } else {
            return problem("unknown key '" + key + "' in a unit section");
        }
        return true;
    }

    // Checked where it is written, so a bad value is reported at its line.
    bool validDetectorKey(const std::string& key, const std::string& value) {
        DetectorConfig scratch;
        return applyDetectorKey(scratch, key, value);
    }

    bool applyDetectorKey(DetectorConfig& det, const std::string& key, const std::string& value) {
        if (key.rfind("app.", 0) == 0) {
            det.appData[key.substr(4)] = value;
            return true;
        }
        if (key == "features") {
            std::vector<std::string> words = Split(value);
            if (words.size() > kFeatureWords) return problem("more than 16 feature words");
            det.features = {};
            for (std::size_t i = 0; i < words.size(); ++i) {
                auto n = Number(words[i], 0, 0xFFFFFFFFll);
                if (!n) return problem("feature word '" + words[i] + "' is not a 32-bit number");
                det.features[i] = static_cast<std::uint32_t>(*n);
            }
            return true;
        }
        if (key == "acquiring") {
            auto b = Boolean(value);
            if (!b) return problem("acquiring must be yes or no, not '" + value + "'");
            det.acquiring = *b;
            return true;
        }
        std::optional<std::int64_t> n;
        if (key == "data_mask" || key == "aux_mask") {
            n = Number(value, 0, 0xFFFFFFFFll);
            if (!n) return problem(key + " must be a 32-bit number, not '" + value + "'");
            (key == "data_mask" ? det.dataMask : det.auxMask) = static_cast<std::uint32_t>(*n);
        } else if (key == "views") {
            n = Number(value, 1, 1000);
            if (!n) return problem("views must be 1 to 1000, not '" + value + "'");
            det.views = static_cast<int>(*n);
        } else if (key == "live_ms") {
            n = Number(value, 0, 1ll << 40);
            if (!n) return problem("live_ms must be a number of milliseconds, not '" + value + "'");
            det.liveMs = static_cast<std::uint64_t>(*n);
        } else if (key == "start") {
            n = Number(value, 0, 0xFFFFFFFFll);
            if (!n) return problem("start must be seconds since 1970, not '" + value + "'");
            det.startStamp = *n;
        }
        return true;
    }

    // Detector keys are applied once the unit's size is known, so a
    // section may come before or after the unit's own keys.
    bool finish() {
        for (auto& [mcb, draft] : drafts_) {
            UnitConfig& unit = draft.config;
            const int count = unit.detectorCount();
            // A type-4 unit's mailbox scratch bytes lie over the top byte of
            // channel words, so its counts live in the low 24 bits, and that
            // byte is no place for bits of its own such as ROI marks: it
            // keeps those to itself.
            DetectorConfig base;
            if (unit.mailboxType == 4) {
                base.dataMask = kType4DataMask;
                base.auxMask = 0;
            }
            unit.detector.assign(count, base);
            // Every value was checked at its line already; what only the
            // whole unit tells is checked here.
            for (int d = 1; d <= count; ++d) {
                for (const auto& [key, value] : draft.common) applyDetectorKey(unit.detector[d - 1], key, value);
                for (const auto& [key, value] : draft.perDetector[d]) applyDetectorKey(unit.detector[d - 1], key, value);
                const DetectorConfig& det = unit.detector[d - 1];
                if (unit.mailboxType == 4 && ((det.dataMask | det.auxMask) & ~kType4DataMask) != 0) {
                    line_ = 0;
                    return problem("unit " + std::to_string(mcb) + " detector " + std::to_string(d) +
                                   ": a type-4 unit keeps its mailbox in the top byte of its channel words, so "
                                   "data_mask and aux_mask must leave bits 24 to 31 clear");
                }
            }
            for (const auto& [d, keys] : draft.perDetector) {
                if (d > count) {
                    line_ = draft.detectorLine[d];
                    return problem("unit " + std::to_string(mcb) + " has " + std::to_string(count) +
                                   " inputs, no detector " + std::to_string(d));
                }
            }
            config_.units[mcb] = unit;
        }
        line_ = 0;
        return true;
    }

    enum class Section { None, Chain, Unit, Detector };
    ChainConfig config_;
    std::map<int, UnitDraft> drafts_;
    std::set<int> unitSections_;  // units whose own section has been read
    Section section_ = Section::None;
    int mcb_ = 0;
    int detector_ = 0;
    int line_ = 0;
    std::string message_;
};

}  // namespace

std::optional<ChainConfig> ParseChainConfig(std::string_view text, std::string* error) {
    return Parser().parse(text, error);
}

std::optional<ChainConfig> LoadChainConfig(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error) *error = path + ": cannot open the file";
        return std::nullopt;
    }
    // A read error (a directory, a failing disk) throws from the stream
    // buffer; it must not pass for an empty description.
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        file.setstate(std::ios::badbit);
    }
    if (file.bad()) {
        if (error) *error = path + ": cannot read the file";
        return std::nullopt;
    }
    std::string reason;
    auto config = ParseChainConfig(text, &reason);
    if (!config && error) *error = path + ": " + reason;
    return config;
}

}  // namespace sim

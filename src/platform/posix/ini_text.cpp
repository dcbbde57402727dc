#include "platform/posix/ini_text.h"

#include <strings.h>

#include "common/trim.h"

namespace platform {
namespace posix {
namespace {

bool SameName(const std::string& a, const std::string& b) {
    return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

// The name of a "[section]" line.
bool SectionName(const std::string& line, std::string* name) {
    std::string text = Trim(line);
    if (text.empty() || text[0] != '[') return false;
    std::string::size_type close = text.find(']');
    *name = Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// The key and value of a "key=value" line.
bool KeyValue(const std::string& line, std::string* key, std::string* value) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == ';' || text[0] == '[') return false;
    std::string::size_type equals = text.find('=');
    if (equals == std::string::npos) return false;
    *key = Trim(text.substr(0, equals));
    if (value != nullptr) {
        std::string raw = Trim(text.substr(equals + 1));
        if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
            raw.back() == raw.front())
            raw = raw.substr(1, raw.size() - 2);
        *value = raw;
    }
    return true;
}

}  // namespace

IniText::IniText(const std::string& text) {
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(line);
        start = end + 1;
    }
}

bool IniText::FindSection(const std::string& section, std::size_t* header,
                          std::size_t* end) const {
    std::string name;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        // Names are stored trimmed, so they are looked up trimmed too.
        if (!SectionName(lines_[i], &name) || !SameName(name, Trim(section))) continue;
        std::size_t j = i + 1;
        while (j < lines_.size() && !SectionName(lines_[j], &name)) ++j;
        *header = i;
        *end = j;
        return true;
    }
    return false;
}

bool IniText::FindKey(std::size_t header, std::size_t end, const std::string& key,
                      std::size_t* line) const {
    std::string name;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (KeyValue(lines_[i], &name, nullptr) && SameName(name, Trim(key))) {
            *line = i;
            return true;
        }
    }
    return false;
}

bool IniText::Get(const std::string& section, const std::string& key, std::string* value) const {
    std::size_t header, end, line;
    if (!FindSection(section, &header, &end) || !FindKey(header, end, key, &line)) return false;
    std::string name;
    return KeyValue(lines_[line], &name, value);
}

std::vector<std::string> IniText::Sections() const {
    std::vector<std::string> names;
    std::string name;
    for (const std::string& line : lines_) {
        if (!SectionName(line, &name)) continue;
        bool seen = false;
        for (const std::string& known : names) seen = seen || SameName(known, name);
        if (!seen) names.push_back(name);
    }
    return names;
}

std::vector<std::string> IniText::Keys(const std::string& section) const {
    std::vector<std::string> names;
    std::size_t header, end;
    if (!FindSection(section, &header, &end)) return names;
    std::string name;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (!KeyValue(lines_[i], &name, nullptr)) continue;
        bool seen = false;
        for (const std::string& known : names) seen = seen || SameName(known, name);
        if (!seen) names.push_back(name);
    }
    return names;
}

bool IniText::Set(const std::string& section, const std::string& key, const std::string& value) {
    std::string newLine = Trim(key) + "=" + value.substr(0, value.find_first_of("\r\n"));
    std::size_t header, end, line;
    if (!FindSection(section, &header, &end)) {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back(std::string());
        lines_.push_back("[" + Trim(section) + "]");
        lines_.push_back(newLine);
        return true;
    }
    if (FindKey(header, end, key, &line)) {
        if (lines_[line] == newLine) return false;
        lines_[line] = newLine;
        return true;
    }
    // After the section's last key or comment, before the blank lines that
    // separate it from the next one.
    std::size_t at = end;
    while (at > header + 1 && Trim(lines_[at - 1]).empty()) --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), newLine);
    return true;
}

bool IniText::RemoveKey(const std::string& section, const std::string& key) {
    std::size_t header, end, line;
    if (!FindSection(section, &header, &end) || !FindKey(header, end, key, &line)) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line));
    return true;
}

bool IniText::RemoveSection(const std::string& section) {
    std::size_t header, end;
    if (!FindSection(section, &header, &end)) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
}

std::string IniText::Text() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += "\n";
    }
    return text;
}

}  // namespace posix
}  // namespace platform

#include "platform/posix/registry.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <sstream>
#include <vector>

#include "common/trim.h"
#include "platform/posix/errors.h"
#include "platform/posix/files.h"

namespace platform {
namespace posix {
namespace {

struct OpenKey {
    std::string file;  // the registry file it was opened in
    std::string path;  // normalised: no leading, trailing or doubled backslash
};

std::string Normalise(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    if (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

bool SameName(const std::string& a, const std::string& b) {
    return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

// `key` is `path` or lies below it.
bool Within(const std::string& key, const std::string& path) {
    if (path.empty()) return true;
    if (key.size() < path.size() || ::strncasecmp(key.c_str(), path.c_str(), path.size()) != 0)
        return false;
    return key.size() == path.size() || key[path.size()] == '\\';
}

bool ParseBytes(const std::string& text, std::vector<std::uint8_t>* bytes) {
    bytes->clear();
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t' || c == ',') {
            ++i;
            continue;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) {
            unsigned char d = static_cast<unsigned char>(std::tolower(text[i]));
            value = value * 16 + (d <= '9' ? d - '0' : d - 'a' + 10);
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 2) return false;
        bytes->push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

// Walks the file: calls `onKey` for each key line and `onValue` for each
// well-formed value line with the key it belongs to.
template <typename OnKey, typename OnValue>
void Walk(const std::string& file, OnKey onKey, OnValue onValue) {
    // Read as every file of the Windows directory: through no link.
    std::string text, why;
    ReadWholeFile(file, &text, &why);
    std::istringstream in(text);
    std::string line, key;
    bool inKey = false;
    while (std::getline(in, line)) {
        std::string text = Trim(line);
        if (text.empty() || text[0] == ';' || text[0] == '#') continue;
        if (text[0] == '[') {
            std::string::size_type close = text.rfind(']');
            std::string::size_type length = close == std::string::npos ? close : close - 1;
            key = Normalise(Trim(text.substr(1, length)));
            inKey = true;
            if (onKey(key)) return;
            continue;
        }
        std::string::size_type equals = text.find('=');
        if (!inKey || equals == std::string::npos) continue;
        std::vector<std::uint8_t> bytes;
        if (!ParseBytes(Trim(text.substr(equals + 1)), &bytes)) continue;
        if (onValue(key, Trim(text.substr(0, equals)), bytes)) return;
    }
}

}  // namespace

RegKey RegistryOpen(const std::string& dir, RegKey parent, const char* subKey) {
    const OpenKey* base = static_cast<const OpenKey*>(parent);
    std::string file = base != nullptr ? base->file : PathIn(dir, kRegistryFile);
    std::string path = Normalise((base != nullptr ? base->path + "\\" : std::string()) +
                                 (subKey != nullptr ? subKey : ""));
    bool found = false;
    Walk(
        file, [&](const std::string& key) { return found = Within(key, path); },
        [](const std::string&, const std::string&, const std::vector<std::uint8_t>&) {
            return false;
        });
    if (!found) {
        SetLastError(kErrorFileNotFound);
        return nullptr;
    }
    return new OpenKey{file, path};
}

bool RegistryQuery(RegKey key, const char* valueName, std::uint8_t* data, std::uint32_t* size) {
    const OpenKey* open = static_cast<const OpenKey*>(key);
    if (open == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (size == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    std::string name = valueName != nullptr ? valueName : "";
    bool found = false;
    std::vector<std::uint8_t> value;
    Walk(
        open->file, [](const std::string&) { return false; },
        [&](const std::string& owner, const std::string& valueKey,
            const std::vector<std::uint8_t>& bytes) {
            if (!SameName(owner, open->path) || !SameName(valueKey, name)) return false;
            value = bytes;
            return found = true;
        });
    if (!found) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    std::uint32_t length = static_cast<std::uint32_t>(value.size());
    if (data != nullptr && length > *size) {
        *size = length;
        SetLastError(kErrorMoreData);
        return false;
    }
    if (data != nullptr && length > 0) std::memcpy(data, value.data(), length);
    *size = length;
    return true;
}

void RegistryClose(RegKey key) { delete static_cast<OpenKey*>(key); }

}  // namespace posix
}  // namespace platform

// The POSIX platform layer's profile reader on arbitrary file text.
#include "fuzz/profile_harness.h"
#include "fuzz/harness_registry.h"

#include <string>
#include <vector>

#include "platform/posix/ini_text.h"

namespace fuzz {
namespace {

constexpr std::size_t kMaxText = 4000;  // longer files only repeat lines

bool HasLineBreak(const std::string& name) { return name.find('\n') != std::string::npos; }

}  // namespace

bool RunProfile(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size < kMaxText ? size : kMaxText);
    const platform::posix::IniText ini(text);
    const platform::posix::IniText again(ini.Text());
    const std::vector<std::string> sections = ini.Sections();
    // The text the reader writes reads back as the same file.
    if (again.Sections() != sections) return false;
    for (const std::string& section : sections) {
        if (HasLineBreak(section)) return false;
        const std::vector<std::string> keys = ini.Keys(section);
        if (again.Keys(section) != keys) return false;
        for (const std::string& key : keys) {
            if (HasLineBreak(key) || key.find('=') != std::string::npos) return false;
            std::string value = "\x01", other = "\x02";
            // Every listed key has a value, the same after the round trip.
            if (!ini.Get(section, key, &value) || !again.Get(section, key, &other) || value != other) return false;
            if (HasLineBreak(value)) return false;
            platform::posix::IniText edited = ini;
            edited.Set(section, key, "fuzz value");
            if (!edited.Get(section, key, &value) || value != "fuzz value") return false;
            if (!edited.RemoveKey(section, key)) return false;
        }
        platform::posix::IniText edited = ini;
        if (!edited.RemoveSection(section)) return false;
    }
    // A key added from the input's own first line is found again.
    std::string name = text.substr(0, text.find_first_of("\r\n=[];"));
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    platform::posix::IniText edited = ini;
    edited.Set("fuzz section", name, "added");
    std::string value;
    if (!name.empty() && name.find('\0') == std::string::npos &&
        (!edited.Get("fuzz section", name, &value) || value != "added"))
        return false;
    return true;
}

namespace {
const Registration kProfile("profile", &RunProfile);
}  // namespace

}  // namespace fuzz

// The text of an INI file as GetPrivateProfileString and
// WritePrivateProfileString see it: "[section]" lines, "key=value" lines,
// ";" comments. Names compare without regard to case; blanks around names
// and values are not part of them; a value in matching quotes loses them.
// Editing keeps every line it does not touch, comments included.
#pragma once

#include <string>
#include <vector>

namespace platform {
namespace posix {

class IniText {
public:
    explicit IniText(const std::string& text = std::string());

    // The value of the first such key in the first such section.
    bool Get(const std::string& section, const std::string& key, std::string* value) const;
    // Names in file order, first spelling of each.
    std::vector<std::string> Sections() const;
    std::vector<std::string> Keys(const std::string& section) const;

    // Replaces the key's value, or adds the key (and the section). A value
    // is one line: anything from a line break on is dropped. False when
    // nothing changed.
    bool Set(const std::string& section, const std::string& key, const std::string& value);
    bool RemoveKey(const std::string& section, const std::string& key);
    bool RemoveSection(const std::string& section);

    std::string Text() const;

private:
    // Line indexes of a section: its header, and one past its last line.
    bool FindSection(const std::string& section, std::size_t* header, std::size_t* end) const;
    bool FindKey(std::size_t header, std::size_t end, const std::string& key,
                 std::size_t* line) const;

    std::vector<std::string> lines_;
};

}  // namespace posix
}  // namespace platform

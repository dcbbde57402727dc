#include "kestrel/utf8_text.h"

#include <cstdint>

namespace kestrel_tool {
namespace {

// Length of the well-formed UTF-8 sequence at `i`, or 0: no overlong
// forms, no surrogates, nothing above U+10FFFF. `*code` receives the
// character.
std::size_t SequenceLength(const std::string& s, std::size_t i, std::uint32_t* code) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > s.size()) return 0;
    *code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        *code = (*code << 6) | (byte(i + k) & 0x3F);
    }
    static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (*code < kLeast[length] || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF)) return 0;
    return length;
}

bool IsControl(std::uint32_t code, bool keepLineBreaks) {
    if (keepLineBreaks && (code == '\t' || code == '\n' || code == '\r')) return false;
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

std::string Mapped(const std::string& bytes, bool keepLineBreaks) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::uint32_t code = static_cast<unsigned char>(bytes[i]);
        std::size_t length = code >= 0x80 ? SequenceLength(bytes, i, &code) : 1;
        if (length == 0) {
            code = static_cast<unsigned char>(bytes[i]);  // Latin-1
            length = 1;
        }
        if (IsControl(code, keepLineBreaks)) {
            text += '?';
        } else if (length > 1 || code < 0x80) {
            text.append(bytes, i, length);
        } else {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
        i += length;
    }
    return text;
}

}  // namespace

std::string Utf8Text(const std::string& bytes) { return Mapped(bytes, true); }

std::string TerminalText(const std::string& bytes) { return Mapped(bytes, false); }

}  // namespace kestrel_tool

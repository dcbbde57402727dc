#include "kestrel/utf8_text.h"

#include <cstdint>

namespace kestrel_tool {
namespace {

// Length of the well-formed UTF-8 sequence at `i`, or 0: no overlong
// forms, no surrogates, nothing above U+10FFFF.
std::size_t SequenceLength(const std::string& s, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > s.size()) return 0;
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string Utf8Text(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x80) {
            if (std::size_t length = SequenceLength(bytes, i)) {
                text.append(bytes, i, length);
                i += length;
                continue;
            }
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
            text += '?';
        } else {
            text += static_cast<char>(c);
        }
        ++i;
    }
    return text;
}

}  // namespace kestrel_tool

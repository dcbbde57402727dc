#include "kestrel/reply_text.h"

#include <cstdio>

#include "kestrel/exit_codes.h"

namespace kestrel_tool {

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out;
}

std::string LocalErrMeaning(std::int32_t localErr) {
    switch (localErr) {
    case 0: return "accepted";
    case -1: return "no usable mailbox";
    case -2: return "time-out";
    case -3: return "retries exhausted";
    default: return "refused by the MCB";
    }
}

void RequireStorableText(const std::string& what, const std::string& text, std::size_t characters,
                         std::size_t bytes) {
    std::size_t count = 0;  // bytes that start a character
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    if (count > characters || text.size() > bytes)
        throw ToolError(kExitUsage, what + " is too long: at most " + std::to_string(characters) +
                                        " characters" +
                                        (bytes < 4 * characters ? " (" + std::to_string(bytes) + " bytes)" : ""));
    // Values stored in an MCB travel inside double quotes, and INI values
    // end at the line.
    for (unsigned char c : text) {
        if (c == '"') throw ToolError(kExitUsage, what + " cannot contain a double quote");
        if (c < 0x20 || c == 0x7F)
            throw ToolError(kExitUsage, what + " cannot contain control characters");
    }
}

}  // namespace kestrel_tool

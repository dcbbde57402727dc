#include "kestrel/reply_text.h"

#include <cstdio>

#include "kestrel/tool_error.h"

namespace kestrel_tool {
namespace {

struct ResultText {
    std::int32_t code;
    const char* word;
    const char* reason;  // null: "result N"
};

static_assert(ROI_INVALID == LOCALERR_NO_MAILBOX, "an ROI result of -1 is either");
constexpr ResultText kResultTexts[] = {
    {kLocalErrAccepted, "accepted", nullptr},
    {LOCALERR_NO_MAILBOX, "no usable mailbox", "the detector or its selection was not usable"},
    {LOCALERR_TIMEOUT, "time-out", "the MCB did not answer in time"},
    {LOCALERR_RETRIES, "retries exhausted", "the exchange failed after its retries"},
    {ROI_REFUSED, "refused by the MCB", "the MCB refused the command"},
};

const ResultText* Find(std::int32_t code) {
    for (const ResultText& row : kResultTexts)
        if (row.code == code) return &row;
    return nullptr;
}

}  // namespace

std::string DetectorName(int mcb, int det) {
    return "MCB " + std::to_string(mcb) + " detector " + std::to_string(det);
}

std::string DetectorName(const DetectorArgs& target) { return DetectorName(target.mcb, target.det); }

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

std::string ResultWord(std::int32_t code) {
    const ResultText* row = Find(code);
    return row != nullptr ? row->word : "refused by the MCB";
}

std::string ResultReason(std::int32_t code) {
    const ResultText* row = Find(code);
    return row != nullptr && row->reason != nullptr ? row->reason : "result " + std::to_string(code);
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

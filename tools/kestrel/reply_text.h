// Texts from, for and about the MCBs: made safe to show and to store, and
// what messages call a detector and a result code.
#pragma once

#include <cstdint>
#include <string>

#include "kestrel/options.h"
#include "operations/roi.h"
#include "protocol/dialog.h"

namespace kestrel_tool {

// A LocalErr of 0: the MCB accepted the command.
constexpr std::int32_t kLocalErrAccepted = 0;

// "MCB 9 detector 2": a detector as every message names it.
std::string DetectorName(int mcb, int det);
std::string DetectorName(const DetectorArgs& target);

// The text with control characters shown as \r, \n or \xHH.
std::string Printable(const std::string& text);
// What a LocalErr or an ROI result means, for messages: in a word ("failed
// (time-out)"), or as the reason of a failure.
std::string ResultWord(std::int32_t code);
std::string ResultReason(std::int32_t code);
// Throws ToolError (usage) unless `text` can be stored as a named value:
// at most `characters` characters (counted as UTF-8 characters)
// and `bytes` bytes, no double quote, no control character.
void RequireStorableText(const std::string& what, const std::string& text, std::size_t characters,
                         std::size_t bytes);

}  // namespace kestrel_tool

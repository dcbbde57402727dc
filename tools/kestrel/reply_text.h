// Texts from and for the MCBs, made safe to show and to store.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel_tool {

// The text with control characters shown as \r, \n or \xHH.
std::string Printable(const std::string& text);
// What a LocalErr value means, for messages.
std::string LocalErrMeaning(std::int32_t localErr);
// Throws ToolError (usage) unless `text` can be stored as a named value:
// at most `characters` characters (counted as UTF-8 characters)
// and `bytes` bytes, no double quote, no control character.
void RequireStorableText(const std::string& what, const std::string& text, std::size_t characters,
                         std::size_t bytes);

}  // namespace kestrel_tool

// Reading back what the tool exported, and the rules of the N42.42-2011
// schema that its documents must keep.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace kestrel_tool_test {

// What follows the metadata of a CSV export: the header and the rows.
std::string CsvRows(std::uint64_t first, const std::vector<std::uint64_t>& counts);

// Whitespace-separated unsigned numbers; false when one is not.
bool ParseNumbers(const std::string& text, std::vector<std::uint64_t>* numbers);

// Every way the document breaks the schema's rules (empty: none).
std::vector<std::string> N42Breaches(const pugi::xml_document& document);

// True when the file starts with the eight bytes of a PNG signature.
bool HasPngSignature(const std::string& path);

}  // namespace kestrel_tool_test

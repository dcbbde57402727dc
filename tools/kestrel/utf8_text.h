// Texts from the units and the host, made fit for UTF-8 documents.
#pragma once

#include <string>

namespace kestrel_tool {

// Valid UTF-8 stays as it is (a description typed on a UTF-8 terminal);
// any other byte above 127 is taken as the Latin-1 character it stands for
// (8-bit Windows text). Control characters, which XML 1.0 cannot hold,
// become "?"; tab, line feed and carriage return stay.
std::string Utf8Text(const std::string& bytes);

}  // namespace kestrel_tool

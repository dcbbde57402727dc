// Texts from the units and the host, made fit for UTF-8 documents and for
// the terminal.
#pragma once

#include <string>

namespace kestrel_tool {

// Valid UTF-8 stays as it is (a description typed on a UTF-8 terminal);
// any other byte above 127 is taken as the Latin-1 character it stands for
// (8-bit Windows text). Control characters (C0, DEL and C1), which XML 1.0
// cannot hold or a reader would act on, become "?"; tab, line feed and
// carriage return stay.
std::string Utf8Text(const std::string& bytes);

// The same for one line of a terminal: tab, line feed and carriage return
// become "?" too, so a stored text can neither break a line nor move the
// cursor.
std::string TerminalText(const std::string& bytes);

}  // namespace kestrel_tool

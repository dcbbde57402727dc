// Where the tool's own messages go. The add-in writes its trace to the
// process's standard error; unless the user asked for the trace, that is
// sent to /dev/null and the tool keeps the real standard error for itself.
#pragma once

#include <cstdio>
#include <string>

namespace kestrel_tool {

// The tool's message stream (the real standard error).
std::FILE* Messages();
// Prints "kestrel: " and the text on the message stream.
void Say(const std::string& text);
// True when the message stream is a terminal.
bool MessagesAreTerminal();

// From here on, what is written to descriptor 2 (the add-in's trace) is
// dropped, while Messages() still reaches the user. Undone by destruction.
class TraceSilencer {
public:
    TraceSilencer();
    ~TraceSilencer();
    TraceSilencer(const TraceSilencer&) = delete;
    TraceSilencer& operator=(const TraceSilencer&) = delete;

private:
    int savedStderr_ = -1;
};

}  // namespace kestrel_tool

// Where the tool's own messages go. The add-in writes its trace to the
// process's standard error; unless the user asked for the trace, that is
// sent to /dev/null and the tool keeps the real standard error for itself.
#pragma once

#include <cstdio>
#include <string>

namespace kestrel_tool {

// The tool's message stream (the real standard error).
std::FILE* Messages();
// Prints "kestrel: " and the text on the message stream, as one line:
// control characters in it (a stored text, a file name) show as "?".
void Say(const std::string& text);
// True when the message stream is a terminal.
bool MessagesAreTerminal();

// A stream writing to `fd` that keeps, in *firstError, the error number of
// the first write that failed (the C stream keeps only a flag). Closing it
// leaves `fd` open.
std::FILE* WatchedStream(int fd, int* firstError);

// From here on `stdout` writes to descriptor 1 through a stream that keeps
// the error of the first write that failed, so a run can tell a reader that
// closed the pipe (EPIPE) from any other failure. Call first in main().
void WatchStandardOutput();
// The error number of the first failed write to standard output; 0: none.
int StandardOutputError();

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

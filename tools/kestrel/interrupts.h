// Ctrl-C, a hang-up or a termination request end a run the way an error
// does: the run's scratch directories are removed first, so nothing of a
// simulated system is left behind in the temporary directory.
#pragma once

#include <string>

namespace kestrel_tool {

// Call first in main(), before any thread starts: the stop signals are then
// taken by one thread of their own, which removes the registered
// directories and exits with 128 + the signal number. A write to a closed
// pipe fails instead of killing the run.
void HandleStopSignals();

// Directories removed, with their contents, when a stop signal comes.
void RemoveOnStop(const std::string& path);
void ForgetOnStop(const std::string& path);
// A file of the run's own (an export not yet in place), unlinked when a
// stop signal comes.
void RemoveFileOnStop(const std::string& path);
void ForgetFileOnStop(const std::string& path);

// Ends the run from any thread, at once, as a stop signal does: the
// registered directories are removed, output is flushed, and the process
// exits with `code`.
[[noreturn]] void EndRun(int code);

}  // namespace kestrel_tool

// Waiting for a child process with a time limit.
#pragma once

#include <sys/types.h>

namespace kestrel_test {

// The exit code, 128 + the signal number when a signal ended it, or -1
// when it had not ended in time (it is then killed and reaped).
int WaitForExit(pid_t pid, int timeoutMs);
// Reaps the process if it has ended, storing the code as above.
bool TryReap(pid_t pid, int* exitCode);

}  // namespace kestrel_test

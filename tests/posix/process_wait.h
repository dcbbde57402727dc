// Waiting for a child process with a time limit.
#pragma once

#include <sys/types.h>

namespace kestrel_test {

// The exit code, 128 + the signal number when a signal ended it, or -1 when it had not ended in time (it is
// then killed and reaped). With timeoutMs 0 it only looks: -2 while the process runs.
int WaitForExit(pid_t pid, int timeoutMs);

}  // namespace kestrel_test

// Costs measured once per run, to set the add-in's figures against.
#pragma once

#include <cstddef>

namespace bench {

// Points $WINDIR at a fresh directory (removed at exit), so the native
// platform's mutexes and files of a benchmark run meet nobody else's.
void UsePrivateWindowsDirectory();

// How an operation's time is read: wall-clock time (where pauses count),
// or the CPU time of the calling thread (the work itself; steadier on a
// busy machine).
enum class Timing { Wall, ThreadCpu };
double NowSeconds(Timing timing);

// Seconds that one memcpy of `bytes` bytes takes.
double MemcpySeconds(std::size_t bytes);

}  // namespace bench

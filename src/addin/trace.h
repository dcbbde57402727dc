// Trace output to the debugger channel, gated by the process's trace level.
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define KESTREL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KESTREL_PRINTF(fmt, args)
#endif

// Written when the trace level is at least `level`.
void DebugTrace(std::int32_t level, const char* format, ...) KESTREL_PRINTF(2, 3);
// Written at any trace level but 0.
void DebugTraceOn(const char* format, ...) KESTREL_PRINTF(1, 2);
// The system's one-line text for the calling thread's last error.
char* FormatLastError(char* buffer, std::int32_t size);

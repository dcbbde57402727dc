#include "addin/trace.h"

#include <cstdarg>
#include <cstdio>

#include "addin/process_state.h"
#include "platform/platform.h"

namespace {

// Messages longer than the 255 characters of the trace buffer are cut there
// rather than written past it.
void Emit(const char* format, va_list args) {
    char szBuffer[256];
    std::vsnprintf(szBuffer, sizeof szBuffer, format, args);
    platform::os().DebugOutput(szBuffer);
}

}  // namespace

void DebugTrace(std::int32_t level, const char* format, ...) {
    if (Process().nDebugLevel < level) return;
    va_list args;
    va_start(args, format);
    Emit(format, args);
    va_end(args);
}

void DebugTraceOn(const char* format, ...) {
    if (Process().nDebugLevel == 0) return;
    va_list args;
    va_start(args, format);
    Emit(format, args);
    va_end(args);
}

char* FormatLastError(char* buffer, std::int32_t size) {
    platform::Os& os = platform::os();
    if (os.FormatSystemMessage(os.LastError(), buffer, size) == 0 && size > 0) buffer[0] = '\0';
    return buffer;
}

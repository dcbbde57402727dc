#include "kestrel/console.h"

#include <fcntl.h>
#include <unistd.h>

namespace kestrel_tool {
namespace {

std::FILE* g_messages = nullptr;

}  // namespace

std::FILE* Messages() { return g_messages != nullptr ? g_messages : stderr; }

void Say(const std::string& text) {
    std::fprintf(Messages(), "kestrel: %s\n", text.c_str());
    std::fflush(Messages());
}

bool MessagesAreTerminal() { return ::isatty(::fileno(Messages())) == 1; }

TraceSilencer::TraceSilencer() {
    std::fflush(stderr);
    savedStderr_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (savedStderr_ < 0 || null < 0) {
        // Nothing lost but quiet: the trace keeps going to standard error.
        if (null >= 0) ::close(null);
        if (savedStderr_ >= 0) ::close(savedStderr_);
        savedStderr_ = -1;
        return;
    }
    ::dup2(null, STDERR_FILENO);
    ::close(null);
    g_messages = ::fdopen(savedStderr_, "w");
    if (g_messages == nullptr) {
        ::dup2(savedStderr_, STDERR_FILENO);
        ::close(savedStderr_);
        savedStderr_ = -1;
        return;
    }
    std::setvbuf(g_messages, nullptr, _IOLBF, 0);
}

TraceSilencer::~TraceSilencer() {
    if (savedStderr_ < 0) return;
    std::fflush(g_messages);
    ::dup2(savedStderr_, STDERR_FILENO);
    std::fclose(g_messages);  // closes savedStderr_
    g_messages = nullptr;
}

}  // namespace kestrel_tool

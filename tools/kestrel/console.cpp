#include "kestrel/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "kestrel/utf8_text.h"

namespace kestrel_tool {
namespace {

std::FILE* g_messages = nullptr;
int g_outputError = 0;

struct Sink {
    int fd;
    int* firstError;
    bool owned;  // made by WatchedStream, deleted with its stream
};
Sink g_outputSink{STDOUT_FILENO, &g_outputError, false};

ssize_t WriteSink(void* cookie, const char* bytes, std::size_t size) {
    Sink& sink = *static_cast<Sink*>(cookie);
    for (std::size_t done = 0; done < size;) {
        ssize_t written = ::write(sink.fd, bytes + done, size - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (*sink.firstError == 0) *sink.firstError = written < 0 ? errno : EIO;
            return 0;  // the stream's error
        }
        done += static_cast<std::size_t>(written);
    }
    return static_cast<ssize_t>(size);
}

int CloseSink(void* cookie) {
    if (static_cast<Sink*>(cookie)->owned) delete static_cast<Sink*>(cookie);
    return 0;
}

std::FILE* OpenSink(Sink* sink) {
    cookie_io_functions_t functions{nullptr, &WriteSink, nullptr, &CloseSink};
    return ::fopencookie(sink, "w", functions);
}

}  // namespace

std::FILE* Messages() { return g_messages != nullptr ? g_messages : stderr; }

void Say(const std::string& text) {
    std::fprintf(Messages(), "kestrel: %s\n", TerminalText(text).c_str());
    std::fflush(Messages());
}

bool MessagesAreTerminal() { return ::isatty(::fileno(Messages())) == 1; }

std::FILE* WatchedStream(int fd, int* firstError) {
    Sink* sink = new Sink{fd, firstError, true};
    std::FILE* stream = OpenSink(sink);
    if (stream == nullptr) delete sink;
    return stream;
}

void WatchStandardOutput() {
    std::FILE* watched = OpenSink(&g_outputSink);  // lives as long as the process
    if (watched == nullptr) return;  // stdout stays; its failures are then reported as such
    std::setvbuf(watched, nullptr, ::isatty(STDOUT_FILENO) == 1 ? _IOLBF : _IOFBF, BUFSIZ);
    stdout = watched;
}

int StandardOutputError() { return g_outputError; }

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

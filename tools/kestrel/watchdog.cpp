#include "kestrel/watchdog.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "common/names.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/interrupts.h"
#include "platform/posix/driver_socket.h"
#include "platform/posix/driver_wire.h"
#include "platform/posix/named_mutex.h"

namespace kestrel_tool {
namespace {

constexpr int kTickMs = 100;
constexpr std::int64_t kFirstNoticeMs = 1500;  // a call may take that long unremarked
constexpr std::int64_t kRepeatMs = 5000;
constexpr std::int64_t kProbeAnswerMs = 1000;  // a service that answers does so at once
// Probed that early, the service's answer (or silence) is known by the
// first notice.
constexpr std::int64_t kFirstProbeMs = kFirstNoticeMs - kProbeAnswerMs;

std::atomic<std::int64_t> g_callStartMs{0};  // 0: no call under way
std::atomic<std::uint64_t> g_callSerial{0};
std::atomic<int> g_waits{0};  // ServiceWait scopes open

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

// "process 1234 (kestrel)".
std::string ProcessText(std::int32_t pid) {
    std::string text = "process " + std::to_string(pid);
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(comm, name) && !name.empty()) text += " (" + name + ")";
    return text;
}

// Stopped by a signal (Ctrl-Z, SIGSTOP) or a tracer.
bool Stopped(std::int32_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::size_t close = line.rfind(')');  // the name may hold anything
    return close != std::string::npos && close + 2 < line.size() &&
           (line[close + 2] == 'T' || line[close + 2] == 't');
}

bool ProcessExists(std::int32_t pid) { return ::access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0; }

std::string Seconds(std::int64_t ms) { return std::to_string((ms + 500) / 1000) + " s"; }

// What the mutex's file says of its holder, for the notice: the process
// that recorded holding it, or else the thread its lock word names.
std::string MutexHolderText(const std::string& windir) {
    const platform::posix::MutexHolder holder = platform::posix::NamedMutexHolder(windir, McbMutexName().c_str());
    const std::string mutex = "the MCB mutex of " + windir;
    if (holder.pid > 0 && holder.pid != ::getpid() && ProcessExists(holder.pid))
        return mutex + ", held by " + ProcessText(holder.pid) + (Stopped(holder.pid) ? ", which is stopped" : "");
    if (holder.tid <= 0 || holder.pid == ::getpid()) return std::string();
    if (!ProcessExists(holder.tid))
        return mutex + ", whose lock word names thread " + std::to_string(holder.tid) +
               ", which does not exist (the add-in takes it over as abandoned)";
    return mutex + ", whose lock word names thread " + std::to_string(holder.tid) + " (" + ProcessText(holder.tid) +
           "), which has not said it holds it";
}

// Whether the service keeps the connection `fd`: it answers a probe
// request, or closes the connection at once when it is at its limit of
// connections. Silence (a service that is stopped, say) is for the watch
// to report.
bool Accepted(int fd) {
    std::uint8_t probe[platform::posix::kRequestHeaderBytes] = {};
    if (::send(fd, probe, sizeof probe, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof probe)) return false;
    std::uint8_t reply[platform::posix::kReplyHeaderBytes];
    for (std::size_t got = 0; got < sizeof reply;) {
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(kProbeAnswerMs));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return true;
        ssize_t n = ::recv(fd, reply + got, sizeof reply - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

AddinCall::AddinCall() {
    g_callSerial.fetch_add(1);
    g_callStartMs.store(NowMs());
}

AddinCall::~AddinCall() { g_callStartMs.store(0); }

ServiceWait::ServiceWait() { g_waits.fetch_add(1); }

ServiceWait::~ServiceWait() { g_waits.fetch_sub(1); }

Watchdog::Watchdog(WatchSettings settings) : settings_(std::move(settings)) {
    if (!settings_.socketPath.empty()) {
        serviceFd_ = platform::posix::ConnectUnixSocket(settings_.socketPath);
        if (serviceFd_ < 0)
            throw ToolError(kExitEnvironment, "no driver service answers at " + settings_.socketPath +
                                                  ": " + std::strerror(errno));
        std::string why;
        if (!platform::posix::DriverPeerTrusted(serviceFd_, settings_.windir, &why) || !Accepted(serviceFd_)) {
            ::close(serviceFd_);
            throw ToolError(kExitEnvironment,
                            why.empty() ? "the driver service does not accept a connection: " + settings_.socketPath +
                                              " closed it at once (it limits the connections of each user, "
                                              "and of all)"
                                        : why);
        }
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        if (serviceFd_ >= 0) ::close(serviceFd_);
        throw ToolError(kExitEnvironment, std::string("cannot start the watch: ") + std::strerror(errno));
    }
    stopRead_ = fds[0];
    stopWrite_ = fds[1];
    thread_ = std::thread([this] { Run(); });
}

Watchdog::~Watchdog() {
    char byte = 1;
    ssize_t written = ::write(stopWrite_, &byte, 1);
    (void)written;  // the pipe is empty; one byte always fits
    thread_.join();
    for (int fd : {stopRead_, stopWrite_, serviceFd_})
        if (fd >= 0) ::close(fd);
}

void Watchdog::Run() {
    using platform::posix::kReplyHeaderBytes;
    bool serviceGone = false;
    std::int64_t probeSentMs = 0, probeAnsweredMs = 0;  // the last probe request to the service
    std::size_t replyBytes = 0;
    std::uint64_t seenCall = 0;
    std::int64_t nextNoticeMs = 0;
    std::string said;
    for (;;) {
        pollfd watched[2] = {{stopRead_, POLLIN, 0}, {serviceFd_, POLLIN, 0}};
        bool watchService = serviceFd_ >= 0 && !serviceGone;
        ::poll(watched, watchService ? 2 : 1, kTickMs);
        if (watched[0].revents != 0) return;
        if (watchService && watched[1].revents != 0) {
            char bytes[64];
            ssize_t got = ::recv(serviceFd_, bytes, sizeof bytes, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) serviceGone = true;
            // Probe replies: ok 0 and nothing returned, a header each.
            for (replyBytes += got > 0 ? static_cast<std::size_t>(got) : 0;
                 replyBytes >= kReplyHeaderBytes; replyBytes -= kReplyHeaderBytes) {
                probeSentMs = 0;
                probeAnsweredMs = NowMs();
            }
        }
        const std::int64_t start = g_callStartMs.load();
        const std::uint64_t call = g_callSerial.load();
        // Gone while the run still needs it: every request of the add-in
        // would now sit out its time-out.
        if (serviceGone && (start != 0 || g_waits.load() > 0)) {
            Say("the port-driver service went away (" + settings_.socketPath +
                " closed its connections); the run is incomplete");
            EndRun(kExitEnvironment);
        }
        if (start == 0) continue;  // between calls nothing waits
        const std::int64_t now = NowMs();
        if (call != seenCall) {
            seenCall = call;
            nextNoticeMs = start + kFirstNoticeMs;
            said.clear();
        }
        if (now - start < kFirstProbeMs) continue;
        // A request of no known code: the service refuses it at once when
        // it serves at all. One a second at most.
        if (serviceFd_ >= 0 && probeSentMs == 0 && probeAnsweredMs < now - kProbeAnswerMs) {
            std::uint8_t probe[platform::posix::kRequestHeaderBytes] = {};
            if (::send(serviceFd_, probe, sizeof probe, MSG_NOSIGNAL | MSG_DONTWAIT) ==
                static_cast<ssize_t>(sizeof probe))
                probeSentMs = now;
        }
        const bool timedOut = settings_.timeoutSeconds > 0 &&
                              now - start >= std::llround(settings_.timeoutSeconds * 1000);
        if (now - start < kFirstNoticeMs && !timedOut) continue;

        std::string waitingFor = MutexHolderText(settings_.windir);
        if (!waitingFor.empty()) {
            // the mutex, and its holder
        } else if (serviceFd_ >= 0) {
            if (probeSentMs != 0 && now - probeSentMs >= kProbeAnswerMs) {
                ucred peer{};
                socklen_t size = sizeof peer;
                bool known = ::getsockopt(serviceFd_, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
                             peer.pid > 0;
                waitingFor = "the port-driver service at " + settings_.socketPath +
                             (known ? ", " + ProcessText(peer.pid) : std::string()) +
                             ", which does not answer" +
                             (known && Stopped(peer.pid) ? ": it is stopped" : "");
            } else if (probeAnsweredMs >= start) {
                waitingFor = "an MCB to answer (the add-in gives up on a silent MCB after 10 s)";
            }
        } else {
            waitingFor = "an MCB to answer (the add-in gives up on a silent MCB after 10 s)";
        }
        if (timedOut) {
            Say("gave up after " + Seconds(now - start) + " (--timeout) waiting for " +
                (waitingFor.empty() ? std::string("the add-in") : waitingFor));
            EndRun(kExitTimeout);
        }
        if (waitingFor.empty() || (now < nextNoticeMs && waitingFor == said)) continue;
        Say("waiting for " + waitingFor + "; " + Seconds(now - start) + " so far" +
            (settings_.timeoutSeconds > 0 ? "" : " (--timeout SECONDS gives up)"));
        said = waitingFor;
        nextNoticeMs = now + kRepeatMs;
    }
}

}  // namespace kestrel_tool

// kestrel-portd: the printer-port driver service of Linux. Serves a
// simulated MCB chain to every client of one Windows directory, so that
// several processes share one chain as they would share the hardware.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "common/exit_codes.h"
#include "platform/posix/driver_socket.h"
#include "portd/group_access.h"
#include "portd/options.h"
#include "portd/service.h"
#include "portd/socket_claim.h"
#include "sim/chain.h"
#include "sim/config.h"

namespace {

int g_stopWrite = -1;

void OnStopSignal(int) {
    int saved = errno;
    char byte = 1;
    ssize_t ignored = ::write(g_stopWrite, &byte, 1);
    (void)ignored;
    errno = saved;
}

// SIGINT and SIGTERM make the stop descriptor readable.
bool InstallStopSignals(int* stopRead) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    *stopRead = fds[0];
    g_stopWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

std::unique_ptr<sim::Chain> MakeChain(const portd::Options& options) {
    std::unique_ptr<sim::Chain> chain;
    std::string error;
    if (options.config.empty()) {
        chain = sim::Chain::demo();
    } else if (auto config = sim::LoadChainConfig(options.config, &error)) {
        chain = sim::Chain::fromConfig(*config);
    } else {
        std::fprintf(stderr, "kestrel-portd: %s\n", error.c_str());
        return nullptr;
    }
    // The service runs for months: the units keep no log of what they took.
    for (int mcb = sim::kFirstMcb; mcb <= sim::kLastMcb; ++mcb)
        if (sim::Unit* unit = chain->unit(mcb)) unit->keepLog = false;
    return chain;
}

// Connections fit the descriptors the service may open, with some to spare
// for its files.
portd::ServiceLimits Limits() {
    portd::ServiceLimits limits;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY && files.rlim_cur < limits.total + 64)
        limits.total = files.rlim_cur > 96 ? files.rlim_cur - 64 : 32;
    limits.perUser = std::min(limits.perUser, limits.total);
    return limits;
}

}  // namespace

int main(int argc, char** argv) {
    portd::Options options;
    int code = portd::ParseOptions(argc, argv, &options);
    if (code >= 0) return code;

    // An unreadable or garbled chain description is bad input, as a
    // missing one is: 2.
    std::unique_ptr<sim::Chain> chain = MakeChain(options);
    if (!chain) return tools::kExitUsage;

    int stopRead = -1;
    if (!InstallStopSignals(&stopRead)) {
        std::perror("kestrel-portd: signals");
        return tools::kExitFailed;
    }
    std::string error;
    gid_t chosen = static_cast<gid_t>(-1), group;
    if (!options.group.empty() && !portd::ResolveGroup(options.group, &chosen, &error)) {
        std::fprintf(stderr, "kestrel-portd: %s\n", error.c_str());
        return tools::kExitUsage;
    }
    if (!portd::PrepareWindowsDirectory(options.windir, chosen, &group, &error)) {
        std::fprintf(stderr, "kestrel-portd: %s\n", error.c_str());
        return tools::kExitFailed;
    }
    portd::SocketClaim claim;
    std::string socketPath;
    platform::posix::DriverSocketPath(options.windir, ("\\\\.\\" + options.device).c_str(), &socketPath);
    if (!claim.Claim(socketPath, &error, group)) {
        std::fprintf(stderr, "kestrel-portd: %s\n", error.c_str());
        return tools::kExitFailed;
    }
    std::fprintf(stderr, "kestrel-portd: serving \\\\.\\%s at %s\n", options.device.c_str(),
                 claim.path().c_str());

    std::fprintf(stderr, "kestrel-portd: clients must be in group %s (or root)\n",
                 portd::GroupName(group).c_str());

    portd::Service service(*chain, claim.listener(), stopRead, Limits());
    service.log = [](const std::string& line) { std::fprintf(stderr, "kestrel-portd: %s\n", line.c_str()); };
    service.admit = [group, &options](int fd) { return portd::AdmitClient(fd, group, options.verbose); };
    if (options.verbose)
        service.onConnections = [](std::size_t count) {
            std::fprintf(stderr, "kestrel-portd: %zu connection(s)\n", count);
        };
    bool ok = service.Run();
    claim.Release();
    std::fprintf(stderr, "kestrel-portd: stopped after %llu requests\n",
                 static_cast<unsigned long long>(service.requests()));
    return ok ? tools::kExitOk : tools::kExitFailed;
}

// The add-in waits without a word and without a limit: for the MCB mutex
// (held by another client, perhaps one that is stopped), for the driver
// service (which may be gone, or stopped), and for MCB replies (10 s each).
// The user must not sit before a silent tool, so while the add-in works a
// thread of the tool watches:
//   - its own idle connection to the driver service: when the service ends,
//     the kernel closes it, and the run ends at once with "the port-driver
//     service went away" (the add-in itself would sit out its time-outs on
//     every request);
//   - the length of the add-in call under way: past a second and a half it
//     finds out what the call waits for (the mutex's recorded holder, a
//     probe request to the service) and says so, then again at intervals;
//   - --timeout: a wait longer than that ends the run with kExitTimeout.
// Ending the run from this thread is abrupt (_exit): the add-in call never
// returns, and whatever it held is released by the system as on a crash,
// which the add-in survives by design (the mutex is robust).
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace kestrel_tool {

// Marks one call into the add-in, so the watchdog knows how long it runs.
class AddinCall {
public:
    AddinCall();
    ~AddinCall();
    AddinCall(const AddinCall&) = delete;
    AddinCall& operator=(const AddinCall&) = delete;
};

// Marks a wait of the tool's own (a timed count, `wait`): the run needs the
// service all along, not only during calls into the add-in, so a service
// that ends meanwhile ends the run at once.
class ServiceWait {
public:
    ServiceWait();
    ~ServiceWait();
    ServiceWait(const ServiceWait&) = delete;
    ServiceWait& operator=(const ServiceWait&) = delete;
};

struct WatchSettings {
    std::string windir;      // where the MCB mutex lives
    std::string socketPath;  // the driver service; empty: served in process
    double timeoutSeconds = 0;  // 0: wait as long as it takes
};

class Watchdog {
public:
    // Throws ToolError (environment) when the service cannot be watched.
    explicit Watchdog(WatchSettings settings);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void Run();

    WatchSettings settings_;
    int serviceFd_ = -1;
    int stopRead_ = -1, stopWrite_ = -1;
    std::thread thread_;
};

}  // namespace kestrel_tool

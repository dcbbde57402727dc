#include "kestrel/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "kestrel/tool_error.h"
#include "kestrel/scratch_dir.h"

namespace kestrel_tool {
namespace {

std::mutex g_lock;
std::set<std::string>& Registered(bool files = false) {
    // Both outlive every other static.
    static auto* directories = new std::set<std::string>;
    static auto* single = new std::set<std::string>;
    return files ? *single : *directories;
}

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
    return set;
}

}  // namespace

void HandleStopSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    // Blocked here, so in every thread started later; only sigwait takes them.
    sigset_t set = StopSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
    std::thread([set] {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) return;
        EndRun(kExitStopSignal + signal);
    }).detach();
}

void EndRun(int code) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        for (const std::string& path : Registered()) RemoveTree(path);
        for (const std::string& path : Registered(true)) ::unlink(path.c_str());
    }
    std::fflush(nullptr);
    ::_exit(code);
}

void RemoveOnStop(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_lock);
    Registered().insert(path);
}

void ForgetOnStop(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_lock);
    Registered().erase(path);
}

void RemoveFileOnStop(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_lock);
    Registered(true).insert(path);
}

void ForgetFileOnStop(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_lock);
    Registered(true).erase(path);
}

}  // namespace kestrel_tool

#include "multiprocess/observed_os.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>
#include <thread>

namespace kestrel_test {
namespace {

// Depth of this thread's hold on the add-in's mutex (the add-in has one).
thread_local int t_depth = 0;
thread_local platform::WaitResult t_lastWait = platform::WaitResult::Failed;

void PutLE32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

void ObservedOs::DieAtRequest(std::uint64_t request, bool bySignal) {
    dieBySignal_.store(bySignal);
    dieAt_.store(request);
}

void ObservedOs::Mark(std::uint32_t code) {
    std::intptr_t driver = driver_.load();
    if (driver == platform::kInvalidHandle) return;
    std::uint8_t input[8];
    PutLE32(input, static_cast<std::uint32_t>(::getpid()));
    PutLE32(input + 4, static_cast<std::uint32_t>(::syscall(SYS_gettid)));
    // The driver refuses the marker; the add-in must not see its error.
    std::uint32_t error = native_.LastError();
    std::uint32_t returned = 0;
    native_.DriverIoctl(driver, code, input, sizeof input, nullptr, 0, &returned);
    native_.SetLastError(error);
}

platform::WaitResult ObservedOs::MutexWait(platform::MutexHandle mutex) {
    platform::WaitResult result = native_.MutexWait(mutex);
    t_lastWait = result;
    if (result != platform::WaitResult::Failed && t_depth++ == 0) Mark(kMarkAcquired);
    return result;
}

bool ObservedOs::SendUnanswered(std::uint32_t code, const void* in, std::uint32_t inLen) {
    std::intptr_t driver = driver_.load();
    if (driver == platform::kInvalidHandle) return false;
    std::vector<std::uint8_t> request(12 + inLen);
    PutLE32(&request[0], code);
    PutLE32(&request[4], inLen);
    PutLE32(&request[8], 0);
    if (inLen != 0) std::memcpy(&request[12], in, inLen);
    return ::send(static_cast<int>(driver), request.data(), request.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(request.size());
}

platform::WaitResult ObservedOs::LastWait() const { return t_lastWait; }

void ObservedOs::SleepMs(std::uint32_t ms) {
    if (fastPolling_.load() && ms <= 1) {
        std::this_thread::yield();
        return;
    }
    native_.SleepMs(ms);
}

bool ObservedOs::MutexRelease(platform::MutexHandle mutex) {
    if (t_depth == 1) Mark(kMarkReleasing);
    bool released = native_.MutexRelease(mutex);
    if (released && t_depth > 0) --t_depth;
    return released;
}

std::intptr_t ObservedOs::DriverOpen(const char* path, std::uint32_t access, std::uint32_t share,
                                     std::uint32_t disposition, std::uint32_t flags) {
    std::intptr_t driver = native_.DriverOpen(path, access, share, disposition, flags);
    if (driver != platform::kInvalidHandle) {
        driver_.store(driver);
        // Opened inside a hold: the bracket starts now on this connection.
        if (t_depth > 0) Mark(kMarkAcquired);
    }
    return driver;
}

bool ObservedOs::DriverIoctl(std::intptr_t driver, std::uint32_t code, const void* in,
                             std::uint32_t inLen, void* out, std::uint32_t outLen,
                             std::uint32_t* returned) {
    bool ok = native_.DriverIoctl(driver, code, in, inLen, out, outLen, returned);
    std::uint64_t count = ++requests_;
    if (count == dieAt_.load()) {
        if (lastWords) lastWords();
        if (dieBySignal_.load()) ::kill(::getpid(), SIGKILL);
        ::_exit(86);
    }
    return ok;
}

void ObservedOs::DriverClose(std::intptr_t driver) {
    if (driver == driver_.load()) {
        if (t_depth > 0) Mark(kMarkReleasing);
        driver_.store(platform::kInvalidHandle);
    }
    native_.DriverClose(driver);
}

ObservedOs& InstallObservedOs() {
    static ObservedOs* observed = new ObservedOs(platform::NativeOs());
    platform::SetOs(observed);
    return *observed;
}

}  // namespace kestrel_test

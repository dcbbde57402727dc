// The platform double: a fake clock that Sleep advances, in-memory profile and registry, captured debug
// output, a counting in-process mutex and a driver wired straight to the simulator.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "addin/shared_state.h"
#include "platform/platform.h"

namespace sim {
class EmulatedDriver;
}

namespace fake {

class FakeOs : public platform::Os {
public:
    FakeOs();
    ~FakeOs() override;

    // --- clock: milliseconds, advanced by SleepMs and by each driver request
    std::uint64_t nowMicros = 0;
    std::uint32_t requestCostMicros = 50;
    std::uint32_t tickBase = 0;            // added to the tick count (wrap tests)
    std::int64_t wallClock = 1700000000;   // TimeNow
    std::uint64_t sleeps = 0;
    void Advance(std::uint64_t ms) { nowMicros += ms * 1000; }
    std::uint32_t Now() const { return tickBase + static_cast<std::uint32_t>(nowMicros / 1000); }

    // --- debug output
    std::vector<std::string> trace;
    std::string TraceText() const;
    int CountTrace(const std::string& line) const;
    void ClearTrace() { trace.clear(); }

    // --- mutex: re-entrant for its thread; counts what happened
    bool failMutexCreate = false, failMutexWait = false;
    int mutexDepth() const { return depth_; }
    int mutexAcquisitions = 0, mutexReleases = 0, mutexCloses = 0;
    // Threads inside MutexWait that have not got the mutex yet.
    std::atomic<int> mutexWaiters{0};

    // --- profiles: file -> section -> key -> value (names case-insensitive)
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> profiles;

    // --- registry: full key path -> value name -> bytes
    std::map<std::string, std::map<std::string, std::vector<std::uint8_t>>> registry;

    // --- platform and driver
    std::uint32_t platformId = platform::kPlatformNt;
    // Device path -> factory of a driver for each open handle.
    std::map<std::string, std::function<std::shared_ptr<sim::EmulatedDriver>()>> devices;
    std::uint32_t openError = 2;  // last error when no device answers a path
    struct Open {
        std::string path;
        std::uint32_t access, share, disposition, flags;
    };
    std::vector<Open> opens;
    int driverCloses = 0, openRegKeys = 0;
    std::uint64_t driverRequests = 0;
    struct Request {
        std::uint32_t code;
        std::vector<std::uint8_t> in;
        std::uint32_t outLen;
        bool outNull;
        std::vector<std::uint8_t> flatBytes;  // what a Windows 95 write's address pointed at
    };
    bool logRequests = false;
    std::vector<Request> requestLog;
    // Turns a Windows 95 write's flat address back into the caller's bytes.
    const std::uint8_t* ResolveFlat(std::uint32_t flat) const;
    std::shared_ptr<sim::EmulatedDriver> LastDriver() const { return lastDriver_; }

    // --- host functions
    std::map<std::string, void*> hostFunctions;

    SharedState shared{};

    // platform::Os
    platform::MutexHandle MutexCreate(const char* name) override;
    platform::WaitResult MutexWait(platform::MutexHandle mutex) override;
    bool MutexRelease(platform::MutexHandle mutex) override;
    void MutexClose(platform::MutexHandle mutex) override;
    SharedState* Shared() override { return &shared; }
    std::uint32_t TickCount() override { return Now(); }
    void SleepMs(std::uint32_t ms) override;
    std::int64_t TimeNow() override { return wallClock; }
    void DebugOutput(const char* text) override;
    std::uint32_t LastError() override { return lastError_; }
    void SetLastError(std::uint32_t error) override { lastError_ = error; }
    std::uint32_t FormatSystemMessage(std::uint32_t error, char* buffer, int size) override;
    std::uint32_t ProfileInt(const char* section, const char* key, int defaultValue, const char* file) override;
    std::uint32_t ProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                                std::uint32_t size, const char* file) override;
    bool ProfileWrite(const char* section, const char* key, const char* value, const char* file) override;
    platform::RegKey RegOpen(platform::RegKey parent, const char* subKey) override;
    bool RegQuery(platform::RegKey key, const char* valueName, std::uint8_t* data, std::uint32_t* size) override;
    void RegClose(platform::RegKey key) override;
    std::uint32_t PlatformId() override { return platformId; }
    std::intptr_t DriverOpen(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                             std::uint32_t flags) override;
    bool DriverIoctl(std::intptr_t driver, std::uint32_t code, const void* in, std::uint32_t inLen, void* out,
                     std::uint32_t outLen, std::uint32_t* returned) override;
    void DriverClose(std::intptr_t driver) override;
    std::uint32_t FlatAddress(const void* bytes) override;
    void* HostFunction(const char* name) override;

private:
    std::recursive_mutex mutex_;
    int depth_ = 0;
    std::uint32_t lastError_ = 0;
    std::map<std::intptr_t, std::shared_ptr<sim::EmulatedDriver>> handles_;
    std::shared_ptr<sim::EmulatedDriver> lastDriver_;
    std::intptr_t nextHandle_ = 0x100;
    std::intptr_t cachedHandle_ = platform::kInvalidHandle;
    sim::EmulatedDriver* cachedDriver_ = nullptr;
    std::map<std::uint32_t, const void*> flat_;
    std::uint32_t nextFlat_ = 0x10000;
    std::vector<std::unique_ptr<std::string>> regKeys_;
};

// Installs a FakeOs for the lifetime of the guard, and resets the
// per-process state of the add-in before and after.
class Installed {
public:
    explicit Installed(FakeOs& os);
    ~Installed();
};

}  // namespace fake

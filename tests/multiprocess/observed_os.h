// A platform::Os for client processes of the multi-process tests: forwards
// every call to the native implementation and adds what the tests watch.
//
//   - Brackets: when a thread first takes the add-in's mutex it sends an
//     "acquired" marker down the driver connection, and a "releasing" one
//     just before it lets go. The driver refuses both (unknown control
//     code) and changes nothing, but the service sees them in order with
//     every other request, so the parent can prove that no request of one
//     process came while another held the mutex.
//   - Counting driver requests (markers excluded) and dying at the N-th,
//     by SIGKILL or _exit, right after the driver performed it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace kestrel_test {

// Control codes of the markers; the emulated driver knows neither.
constexpr std::uint32_t kMarkAcquired = 0x4B534D41;
constexpr std::uint32_t kMarkReleasing = 0x4B534D52;

class ObservedOs final : public platform::Os {
public:
    explicit ObservedOs(platform::Os& native) : native_(native) {}

    // Driver requests since the last ResetRequests.
    std::uint64_t Requests() const { return requests_.load(); }
    void ResetRequests() { requests_.store(0); }
    // Ends the process right after the driver performed request number
    // `request` (counted from the last ResetRequests); 0 disarms. SIGKILL
    // when `bySignal`, _exit otherwise.
    void DieAtRequest(std::uint64_t request, bool bySignal);
    // Called just before that death (to tell the parent when it came).
    std::function<void()> lastWords;
    // Sends a request down the driver connection and does not wait for the
    // answer: a process that dies right after sending. False when there is
    // no connection or the bytes did not go.
    bool SendUnanswered(std::uint32_t code, const void* in, std::uint32_t inLen);
    // How this thread's last wait for the mutex ended.
    platform::WaitResult LastWait() const;
    // Polls without pausing: the simulated units answer at once, so the
    // add-in's 1 ms pauses between polls only cost time. Time-outs still
    // run on the tick count.
    void SetFastPolling(bool fast) { fastPolling_.store(fast); }

    platform::MutexHandle MutexCreate(const char* name) override { return native_.MutexCreate(name); }
    platform::WaitResult MutexWait(platform::MutexHandle mutex) override;
    bool MutexRelease(platform::MutexHandle mutex) override;
    void MutexClose(platform::MutexHandle mutex) override { native_.MutexClose(mutex); }

    SharedState* Shared() override { return native_.Shared(); }

    std::uint32_t TickCount() override { return native_.TickCount(); }
    void SleepMs(std::uint32_t ms) override;
    std::int64_t TimeNow() override { return native_.TimeNow(); }

    void DebugOutput(const char* text) override { native_.DebugOutput(text); }
    std::uint32_t LastError() override { return native_.LastError(); }
    void SetLastError(std::uint32_t error) override { native_.SetLastError(error); }
    std::uint32_t FormatSystemMessage(std::uint32_t error, char* buffer, int size) override {
        return native_.FormatSystemMessage(error, buffer, size);
    }

    std::uint32_t ProfileInt(const char* section, const char* key, int defaultValue,
                             const char* file) override {
        return native_.ProfileInt(section, key, defaultValue, file);
    }
    std::uint32_t ProfileString(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t size, const char* file) override {
        return native_.ProfileString(section, key, defaultValue, buffer, size, file);
    }
    bool ProfileWrite(const char* section, const char* key, const char* value,
                      const char* file) override {
        return native_.ProfileWrite(section, key, value, file);
    }

    platform::RegKey RegOpen(platform::RegKey parent, const char* subKey) override {
        return native_.RegOpen(parent, subKey);
    }
    bool RegQuery(platform::RegKey key, const char* valueName, std::uint8_t* data,
                  std::uint32_t* size) override {
        return native_.RegQuery(key, valueName, data, size);
    }
    void RegClose(platform::RegKey key) override { native_.RegClose(key); }

    std::uint32_t PlatformId() override { return native_.PlatformId(); }

    std::intptr_t DriverOpen(const char* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flags) override;
    bool DriverIoctl(std::intptr_t driver, std::uint32_t code, const void* in, std::uint32_t inLen,
                     void* out, std::uint32_t outLen, std::uint32_t* returned) override;
    void DriverClose(std::intptr_t driver) override;
    std::uint32_t FlatAddress(const void* bytes) override { return native_.FlatAddress(bytes); }
    void* HostFunction(const char* name) override { return native_.HostFunction(name); }

private:
    void Mark(std::uint32_t code);

    platform::Os& native_;
    std::atomic<std::intptr_t> driver_{platform::kInvalidHandle};
    std::atomic<std::uint64_t> requests_{0};
    std::atomic<std::uint64_t> dieAt_{0};
    std::atomic<bool> dieBySignal_{false};
    std::atomic<bool> fastPolling_{false};
};

// Installs one ObservedOs over the native platform for the rest of the
// process (child processes call it first thing) and returns it.
ObservedOs& InstallObservedOs();

}  // namespace kestrel_test

// The Linux implementation of the platform seam. Everything system-wide
// (the shared block, named mutexes, profiles, the registry, driver
// sockets) belongs to one directory that plays the Windows directory: two
// instances over different directories are two independent systems.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace posix {

class SharedMapping;

class PosixOs final : public Os {
public:
    // Creates the directory when it is missing.
    explicit PosixOs(std::string windowsDirectory);
    ~PosixOs() override;

    // True when this instance's mapping of the shared block was the first
    // one in the system (it found nobody else holding the block).
    bool SharedWasFirst();

    MutexHandle MutexCreate(const char* name) override;
    WaitResult MutexWait(MutexHandle mutex) override;
    bool MutexRelease(MutexHandle mutex) override;
    void MutexClose(MutexHandle mutex) override;

    SharedState* Shared() override;

    std::uint32_t TickCount() override;
    void SleepMs(std::uint32_t ms) override;
    std::int64_t TimeNow() override;

    void DebugOutput(const char* text) override;
    std::uint32_t LastError() override;
    void SetLastError(std::uint32_t error) override;
    std::uint32_t FormatSystemMessage(std::uint32_t error, char* buffer, int size) override;

    std::uint32_t ProfileInt(const char* section, const char* key, int defaultValue,
                             const char* file) override;
    std::uint32_t ProfileString(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t size, const char* file) override;
    bool ProfileWrite(const char* section, const char* key, const char* value,
                      const char* file) override;

    RegKey RegOpen(RegKey parent, const char* subKey) override;
    bool RegQuery(RegKey key, const char* valueName, std::uint8_t* data,
                  std::uint32_t* size) override;
    void RegClose(RegKey key) override;

    std::uint32_t PlatformId() override;

    std::intptr_t DriverOpen(const char* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flags) override;
    bool DriverIoctl(std::intptr_t driver, std::uint32_t code, const void* in,
                     std::uint32_t inLen, void* out, std::uint32_t outLen,
                     std::uint32_t* returned) override;
    void DriverClose(std::intptr_t driver) override;
    std::uint32_t FlatAddress(const void* bytes) override;

    void* HostFunction(const char* name) override;

private:
    SharedState* MapShared();

    std::string dir_;
    std::once_flag sharedOnce_;
    std::unique_ptr<SharedMapping> sharedMapping_;
    std::atomic<SharedMapping*> checked_{nullptr};  // the mapping, once made
    std::unique_ptr<SharedState> privateShared_;  // when the block cannot be mapped
    SharedState* shared_ = nullptr;
};

// The shared block's file under a Windows directory.
std::string SharedBlockPath(const std::string& windowsDirectory);
// The shared block as each PosixOs maps it; null with *why set on failure.
std::unique_ptr<SharedMapping> OpenSharedBlock(const std::string& windowsDirectory, std::string* why);

// What in the Windows directory keeps the add-in from sharing its table,
// its mutex or its profile with the other programs (a link, a file of
// another group, a directory others can write), as the add-in would say
// it; empty when nothing does.
std::string WindowsDirectoryTrouble(const std::string& windowsDirectory);

}  // namespace posix
}  // namespace platform

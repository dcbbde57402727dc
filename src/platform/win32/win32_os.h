// The Windows implementation of the platform seam: each operation is the
// Win32 call it is named after, with the arguments the add-in needs. Only
// the files of this folder include <windows.h>.
#pragma once

#include "platform/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace platform {

class Win32Os final : public Os {
public:
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
};

}  // namespace platform

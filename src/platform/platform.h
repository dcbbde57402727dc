// The only door from the add-in core to the operating system.
//
// Every operating-system service the add-in needs is one operation of `Os`.
// The core calls `platform::os()`; the build links one native implementation
// (win32/ or posix/), and tests install a double with `platform::SetOs`.
// Nothing here throws; failures are results, as the Windows calls they stand
// for report them.
#pragma once

#include <cstdint>

struct SharedState;

namespace platform {

// Value of a driver handle that is not open (INVALID_HANDLE_VALUE).
constexpr std::intptr_t kInvalidHandle = -1;

constexpr std::uint32_t kPlatformNt = 2;  // VER_PLATFORM_WIN32_NT
constexpr std::uint32_t kPlatformWin95 = 1;

enum class WaitResult { Acquired, Abandoned, Failed };

// Opaque handles of the mutex and registry keys.
using MutexHandle = void*;
using RegKey = void*;

class Os {
public:
    virtual ~Os() = default;

    // --- named system-wide mutex, re-entrant for the owning thread ---------
    // Creates the mutex or opens the one of that name; null on failure (the
    // last error then says why).
    virtual MutexHandle MutexCreate(const char* name) = 0;
    // Waits without time-out. An abandoned mutex (its owner died holding it)
    // is acquired and reported as Abandoned.
    virtual WaitResult MutexWait(MutexHandle mutex) = 0;
    virtual bool MutexRelease(MutexHandle mutex) = 0;
    virtual void MutexClose(MutexHandle mutex) = 0;

    // --- the block shared by every process that loads the add-in ----------
    // Zero-filled when the first process maps it. Never null.
    virtual SharedState* Shared() = 0;

    // --- time ---------------------------------------------------------------
    virtual std::uint32_t TickCount() = 0;      // milliseconds, wraps at 2^32
    virtual void SleepMs(std::uint32_t ms) = 0;
    virtual std::int64_t TimeNow() = 0;         // seconds since 1970 UTC

    // --- debug output and system error text ---------------------------------
    virtual void DebugOutput(const char* text) = 0;
    virtual std::uint32_t LastError() = 0;
    virtual void SetLastError(std::uint32_t error) = 0;
    // The system's one-line text for an error number, as FormatMessageA with
    // FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK: the number
    // of characters stored, 0 when there is no text (buffer then untouched).
    virtual std::uint32_t FormatSystemMessage(std::uint32_t error, char* buffer,
                                              int size) = 0;

    // --- profile (INI) files, bare file names live in the Windows directory -
    virtual std::uint32_t ProfileInt(const char* section, const char* key,
                                     int defaultValue, const char* file) = 0;
    // As GetPrivateProfileStringA: characters stored, terminator excluded;
    // a null default is an empty default; values are cut to size - 1.
    virtual std::uint32_t ProfileString(const char* section, const char* key,
                                        const char* defaultValue, char* buffer,
                                        std::uint32_t size, const char* file) = 0;
    // As WritePrivateProfileStringA: a null value removes the key.
    virtual bool ProfileWrite(const char* section, const char* key,
                              const char* value, const char* file) = 0;

    // --- registry, below HKEY_LOCAL_MACHINE (parent null) or an open key ----
    virtual RegKey RegOpen(RegKey parent, const char* subKey) = 0;  // null: missing
    // As RegQueryValueExA: on entry *size is the buffer size, on success the
    // value's size. A value larger than the buffer fails.
    virtual bool RegQuery(RegKey key, const char* valueName, std::uint8_t* data,
                          std::uint32_t* size) = 0;
    virtual void RegClose(RegKey key) = 0;

    // --- the OS family: kPlatformNt or not ---------------------------------
    virtual std::uint32_t PlatformId() = 0;

    // --- the printer-port driver -------------------------------------------
    // As CreateFileA: kInvalidHandle on failure, with the last error set.
    virtual std::intptr_t DriverOpen(const char* path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) = 0;
    // As DeviceIoControl without overlapped I/O.
    virtual bool DriverIoctl(std::intptr_t driver, std::uint32_t code,
                             const void* in, std::uint32_t inLen, void* out,
                             std::uint32_t outLen, std::uint32_t* returned) = 0;
    virtual void DriverClose(std::intptr_t driver) = 0;
    // The flat 32-bit address of the caller's bytes that the Windows 95
    // driver's write request carries. Real on 32-bit Windows; elsewhere a
    // token that the matching driver resolves.
    virtual std::uint32_t FlatAddress(const void* bytes) = 0;

    // --- the loading host ----------------------------------------------------
    // An exported function of the host that loaded the add-in, by name; null
    // when the host does not export it (the add-in then uses its own).
    virtual void* HostFunction(const char* name) {
        (void)name;
        return nullptr;
    }
};

// The implementation in force: a test double when one is installed,
// otherwise the native one of this build.
Os& os();
// Installs a double; null goes back to the native implementation.
void SetOs(Os* replacement);
// The native implementation of this build (win32/ or posix/).
Os& NativeOs();

}  // namespace platform

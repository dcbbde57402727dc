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

// Each operation says what it returns and how it fails, whether it blocks,
// whether the core calls it with the MCB mutex held ("mutex: held"; "if
// any": held when the mutex could be created, as Open and Close run
// unserialised without one) and what the last error then says (the
// numbers are Windows error numbers on every platform; the POSIX layer
// translates errno at this boundary and writes what it refused to the
// debug output, prefixed "*** Kestrel: ").
class Os {
public:
    virtual ~Os() = default;

    // --- named system-wide mutex, re-entrant for the owning thread ---------
    // Creates the mutex of that name, or opens the one another process
    // created. Returns its handle; null on failure, with the last error set
    // (POSIX: invalid parameter for an empty name, or what kept its file in
    // the Windows directory from being shared, also said on the debug
    // output). Does not block beyond the file's first-opener decision.
    // Mutex: not held (the add-in's constructor).
    virtual MutexHandle MutexCreate(const char* name) = 0;
    // Takes the mutex, waiting without time-out for as long as another
    // thread or process holds it. Acquired; Abandoned when its owner died
    // holding it (it is then this thread's, once, and what it guards is the
    // caller's to judge; POSIX first waits up to a second for the dead
    // owner's process to finish exiting); Failed with the last error set
    // (invalid handle; POSIX: a mutex that cannot be made consistent).
    // Mutex: not held, or held by this thread (it is re-entrant: Open's
    // start-up takes it again).
    virtual WaitResult MutexWait(MutexHandle mutex) = 0;
    // Releases one acquisition. False with the last error "not owner"
    // (288) when this thread does not hold it. Does not block. Mutex: held.
    virtual bool MutexRelease(MutexHandle mutex) = 0;
    // Closes the handle; the mutex itself lives on while any process has it
    // open. Reports nothing. Mutex: not held (the add-in's destruction).
    virtual void MutexClose(MutexHandle mutex) = 0;

    // --- the block shared by every process that loads the add-in ----------
    // Never null. Zero-filled when the first process maps it. The first call
    // maps it (POSIX: may wait while another process decides who is first);
    // a block that cannot be mapped is replaced by one private to this
    // process, said on the debug output. Sets no error. Mutex: either (the
    // constructor takes its address; the records are read and written only
    // with the mutex held).
    virtual SharedState* Shared() = 0;

    // --- time ---------------------------------------------------------------
    // Milliseconds of a monotonic clock, wrapping at 2^32 (compare by
    // unsigned subtraction). Never fails, never blocks. Mutex: held.
    virtual std::uint32_t TickCount() = 0;
    // Blocks for at least `ms` milliseconds. The mailbox handshake polls
    // with 1 ms sleeps, so a silent MCB keeps the mutex held through its
    // whole time-out. Mutex: held.
    virtual void SleepMs(std::uint32_t ms) = 0;
    // Seconds since 1970-01-01 00:00 UTC. Never fails. Mutex: held.
    virtual std::int64_t TimeNow() = 0;

    // --- debug output and system error text ---------------------------------
    // Writes `text` as it is (the trace adds its own line ends): the
    // debugger on Windows, standard error in one write on POSIX (blocking
    // only while that is a full pipe). Sets no error. Mutex: either.
    virtual void DebugOutput(const char* text) = 0;
    // The calling thread's last error, as the operations above left it.
    // Mutex: if any (read after a failed driver open).
    virtual std::uint32_t LastError() = 0;
    // Sets it. The core never does; doubles and tests do.
    virtual void SetLastError(std::uint32_t error) = 0;
    // The system's one-line text for an error number, as FormatMessageA with
    // FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK: the number
    // of characters stored, 0 when there is no text or it does not fit (the
    // buffer then untouched). Never blocks. Mutex: if any (the trace of a
    // failed driver open).
    virtual std::uint32_t FormatSystemMessage(std::uint32_t error, char* buffer,
                                              int size) = 0;

    // --- profile (INI) files, bare file names live in the Windows directory -
    // As GetPrivateProfileIntA: the value's leading integer (blanks, a sign,
    // decimal or "0x" hex digits), `defaultValue` when the key is missing or
    // empty. Never fails: an unreadable file reads as empty (POSIX says why
    // on the debug output, once). Reads take no lock. Mutex: if any.
    virtual std::uint32_t ProfileInt(const char* section, const char* key,
                                     int defaultValue, const char* file) = 0;
    // As GetPrivateProfileStringA: characters stored, terminator excluded;
    // a null default is an empty default; values are cut to size - 1; a
    // null section or key lists the sections or the section's keys. Fails
    // as ProfileInt does: never. Mutex: held.
    virtual std::uint32_t ProfileString(const char* section, const char* key,
                                        const char* defaultValue, char* buffer,
                                        std::uint32_t size, const char* file) = 0;
    // As WritePrivateProfileStringA: a null value removes the key, a null
    // key the section. True when stored; false with the last error set
    // (POSIX: invalid parameter for a null file or section, otherwise from
    // errno, with "cannot write PATH: WHY" on the debug output; the file is
    // then as it was). Blocks while another process writes the same file
    // (POSIX: its exclusive lock on FILE.lock, for one read and rename).
    // Mutex: held.
    virtual bool ProfileWrite(const char* section, const char* key,
                              const char* value, const char* file) = 0;

    // --- registry, below HKEY_LOCAL_MACHINE (parent null) or an open key ----
    // The key, or null when it is missing. Windows reports registry errors
    // as results, not as the last error, so callers read nothing more
    // (POSIX sets "file not found"). Blocks no longer than a read of the
    // registry file. Mutex: if any (port discovery at start-up).
    virtual RegKey RegOpen(RegKey parent, const char* subKey) = 0;
    // As RegQueryValueExA: on entry *size is the buffer size, on return the
    // value's size; a null buffer asks for the size only. True with the
    // value's bytes stored and nothing after them; false for a missing
    // value or key, or a value larger than the buffer (*size then
    // the size needed, the buffer's first byte untouched). Errors as
    // RegOpen. Mutex: if any.
    virtual bool RegQuery(RegKey key, const char* valueName, std::uint8_t* data,
                          std::uint32_t* size) = 0;
    // Closes a key from RegOpen. Reports nothing. Mutex: if any.
    virtual void RegClose(RegKey key) = 0;

    // --- the OS family: kPlatformNt or not ---------------------------------
    // Never fails, never blocks; POSIX always reports the NT family.
    // Mutex: if any (start-up).
    virtual std::uint32_t PlatformId() = 0;

    // --- the printer-port driver -------------------------------------------
    // As CreateFileA on the device `path`: its handle, or kInvalidHandle
    // with the last error set. POSIX maps "\\.\NAME" to the socket
    // WINDIR/dev/NAME and ignores the other arguments: "file not found" (2)
    // when the path has another form or nothing listens there, "filename
    // too long" (206), "access denied" (5) when something else than the
    // socket's owner answers (said on the debug output). Blocks no longer
    // than a connect to a local socket. Mutex: if any (start-up).
    virtual std::intptr_t DriverOpen(const char* path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) = 0;
    // As DeviceIoControl without overlapped I/O: true when the driver
    // performed the request, *returned (when not null) the output bytes
    // stored. False with the last error set, the output buffer untouched on
    // POSIX: "incorrect function" (1) when the driver refused it, "invalid
    // handle" (6), "invalid parameter" (87) for a null buffer of non-zero
    // length or a transfer over 256 KiB, "pipe ended" (109) when the
    // connection broke (after a service restart the next request connects
    // again; after a reply out of step every later one fails). Blocks until
    // the driver answers: on POSIX without time limit, so a stopped service
    // holds the caller, and the mutex, for as long as it is stopped (one
    // request of the process at a time). Mutex: held (if any, at start-up).
    virtual bool DriverIoctl(std::intptr_t driver, std::uint32_t code,
                             const void* in, std::uint32_t inLen, void* out,
                             std::uint32_t outLen, std::uint32_t* returned) = 0;
    // Closes a handle from DriverOpen; kInvalidHandle is ignored on POSIX.
    // Reports nothing. Mutex: if any (shut-down).
    virtual void DriverClose(std::intptr_t driver) = 0;
    // The flat 32-bit address of the caller's bytes that the Windows 95
    // driver's write request carries. Real on 32-bit Windows; elsewhere a
    // token that the matching driver resolves. Never fails. Mutex: held.
    virtual std::uint32_t FlatAddress(const void* bytes) = 0;

    // --- the loading host ----------------------------------------------------
    // An exported function of the host that loaded the add-in, by name; null
    // when the host does not export it (the add-in then uses its own). Sets
    // no error the core reads. Mutex: held (the probe of a unit).
    virtual void* HostFunction(const char* name) {
        (void)name;
        return nullptr;
    }
};

// The overrides of an implementation that defines every operation out of
// line, as win32/ and posix/ do: declared here once, beside the table, so
// that an operation added to it reaches both.
#define PLATFORM_OS_OVERRIDES                                                                         \
    MutexHandle MutexCreate(const char* name) override;                                              \
    WaitResult MutexWait(MutexHandle mutex) override;                                                \
    bool MutexRelease(MutexHandle mutex) override;                                                   \
    void MutexClose(MutexHandle mutex) override;                                                     \
    SharedState* Shared() override;                                                                  \
    std::uint32_t TickCount() override;                                                              \
    void SleepMs(std::uint32_t ms) override;                                                         \
    std::int64_t TimeNow() override;                                                                 \
    void DebugOutput(const char* text) override;                                                     \
    std::uint32_t LastError() override;                                                              \
    void SetLastError(std::uint32_t error) override;                                                 \
    std::uint32_t FormatSystemMessage(std::uint32_t error, char* buffer, int size) override;         \
    std::uint32_t ProfileInt(const char* section, const char* key, int defaultValue, const char* file) \
        override;                                                                                    \
    std::uint32_t ProfileString(const char* section, const char* key, const char* defaultValue,      \
                                char* buffer, std::uint32_t size, const char* file) override;        \
    bool ProfileWrite(const char* section, const char* key, const char* value, const char* file)     \
        override;                                                                                    \
    RegKey RegOpen(RegKey parent, const char* subKey) override;                                      \
    bool RegQuery(RegKey key, const char* valueName, std::uint8_t* data, std::uint32_t* size)        \
        override;                                                                                    \
    void RegClose(RegKey key) override;                                                              \
    std::uint32_t PlatformId() override;                                                             \
    std::intptr_t DriverOpen(const char* path, std::uint32_t access, std::uint32_t share,            \
                             std::uint32_t disposition, std::uint32_t flags) override;               \
    bool DriverIoctl(std::intptr_t driver, std::uint32_t code, const void* in, std::uint32_t inLen,  \
                     void* out, std::uint32_t outLen, std::uint32_t* returned) override;             \
    void DriverClose(std::intptr_t driver) override;                                                 \
    std::uint32_t FlatAddress(const void* bytes) override;                                           \
    void* HostFunction(const char* name) override;

// The implementation in force: a test double when one is installed,
// otherwise the native one of this build.
Os& os();
// Installs a double; null goes back to the native implementation.
void SetOs(Os* replacement);
// The native implementation of this build (win32/ or posix/).
Os& NativeOs();

}  // namespace platform

#include "platform/posix/posix_os.h"

#include <dirent.h>
#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "addin/shared_state.h"
#include "platform/posix/clock.h"
#include "platform/posix/driver_socket.h"
#include "platform/posix/errors.h"
#include "platform/posix/files.h"
#include "platform/posix/named_mutex.h"
#include "platform/posix/profile.h"
#include "platform/posix/registry.h"
#include "platform/posix/shared_mapping.h"

namespace platform {
namespace posix {
namespace {

// Nothing may leave the platform seam by exception: the only one this
// layer can meet is running out of memory, reported as Windows would.
template <typename Result, typename Work>
Result NoThrow(Result failed, Work&& work) noexcept {
    try {
        return work();
    } catch (...) {
        SetLastError(kErrorNotEnoughMemory);
        return failed;
    }
}

}  // namespace

namespace {

constexpr BlockLayout kSharedLayout{0x4B534842, 1, sizeof(SharedState)};  // "KSHB"

// Whether a block holds what the add-in could have written: counts and
// indices in their ranges, version texts ended.
bool PlausibleState(const void* block) {
    const SharedState& state = *static_cast<const SharedState*>(block);
    if (state.nSystemOpenCount < 0) return false;
    for (const McbRecord& record : state.records) {
        const std::int32_t type = record.nMailboxType;
        if (record.nDetectors < 0 || record.nDetectors > MAX_DETECTORS || (type != 0 && type != -1 && type != 4 && type != 5) ||
            record.nCurDevSeg < -1 || record.nCurDevSeg > MAX_DETECTORS || record.nCurView < -1 ||
            (record.bResponding & ~1) != 0 || (record.bDevices & ~1) != 0 ||
            std::memchr(record.szVersion, '\0', sizeof record.szVersion) == nullptr)
            return false;
    }
    return true;
}

}  // namespace

std::string SharedBlockPath(const std::string& windowsDirectory) {
    return windowsDirectory + "/kestrel/shared.state";
}

std::unique_ptr<SharedMapping> OpenSharedBlock(const std::string& windowsDirectory, std::string* why) {
    UniqueFd kestrel = OpenKestrelDirectory(windowsDirectory, why);
    if (!kestrel.valid()) return nullptr;
    return SharedMapping::Open(kestrel.get(), "shared.state", SharedBlockPath(windowsDirectory), kSharedLayout,
                               nullptr, PlausibleState, why);
}

std::string WindowsDirectoryTrouble(const std::string& windowsDirectory) {
    const std::string kestrel = windowsDirectory + "/kestrel";
    std::vector<std::string> files = {SharedBlockPath(windowsDirectory), SharedBlockPath(windowsDirectory) + ".init",
                                      windowsDirectory + "/HVNACC32.INI.lock"};
    if (DIR* listing = ::opendir(kestrel.c_str())) {
        while (const dirent* entry = ::readdir(listing))
            if (std::strncmp(entry->d_name, "mutex.", 6) == 0) files.push_back(kestrel + "/" + entry->d_name);
        ::closedir(listing);
    }
    std::string trouble = TroubleAt(kestrel, Keeper::Group);
    for (const std::string& file : files)
        if (trouble.empty()) trouble = TroubleAt(file, Keeper::Group);
    return trouble;
}

PosixOs::PosixOs(std::string windowsDirectory) : dir_(std::move(windowsDirectory)) {
    MakeDirectories(dir_);
}

PosixOs::~PosixOs() = default;

// --- the shared block ---------------------------------------------------

SharedState* PosixOs::Shared() {
    static SharedState lastResort;  // when not even a private block can be had
    return NoThrow(&lastResort, [this] { return MapShared(); });
}

SharedState* PosixOs::MapShared() {
    std::call_once(sharedOnce_, [this] {
        std::string why;
        sharedMapping_ = OpenSharedBlock(dir_, &why);
        if (sharedMapping_) {
            shared_ = static_cast<SharedState*>(sharedMapping_->block());
            checked_.store(sharedMapping_.get(), std::memory_order_release);
            return;
        }
        // The add-in still works in this process, on a block of its own.
        std::string message = "*** Kestrel: shared block in " + dir_ + " not mapped (" + why +
                              "); this process works alone ***\n";
        DebugWrite(message.c_str());
        privateShared_.reset(new SharedState());
        shared_ = privateShared_.get();
    });
    return shared_;
}

bool PosixOs::SharedWasFirst() {
    Shared();
    return sharedMapping_ && sharedMapping_->first();
}

// --- mutex ----------------------------------------------------------------

MutexHandle PosixOs::MutexCreate(const char* name) {
    return NoThrow<MutexHandle>(nullptr, [&] { return NamedMutexOpen(dir_, name); });
}
WaitResult PosixOs::MutexWait(MutexHandle mutex) {
    WaitResult result = NamedMutexWait(mutex);
    // The block is the mutex's to guard: whoever holds it may rebuild it.
    if (result != WaitResult::Failed)
        if (SharedMapping* block = checked_.load(std::memory_order_acquire)) block->Repair();
    return result;
}
bool PosixOs::MutexRelease(MutexHandle mutex) {
    // What the holder leaves is what a rebuild of a damaged block restores.
    if (SharedMapping* block = checked_.load(std::memory_order_acquire))
        if (NamedMutexHeld(mutex)) block->Remember();
    return NamedMutexRelease(mutex);
}
void PosixOs::MutexClose(MutexHandle mutex) { NamedMutexClose(mutex); }

// --- time -------------------------------------------------------------------

std::uint32_t PosixOs::TickCount() { return posix::TickCount(); }
void PosixOs::SleepMs(std::uint32_t ms) { posix::SleepMs(ms); }
std::int64_t PosixOs::TimeNow() { return posix::TimeNow(); }

// --- debug output and errors -------------------------------------------------

void PosixOs::DebugOutput(const char* text) { DebugWrite(text); }
std::uint32_t PosixOs::LastError() { return posix::LastError(); }
void PosixOs::SetLastError(std::uint32_t error) { posix::SetLastError(error); }
std::uint32_t PosixOs::FormatSystemMessage(std::uint32_t error, char* buffer, int size) {
    return posix::FormatSystemMessage(error, buffer, size);
}

// --- profiles and registry ---------------------------------------------------

std::uint32_t PosixOs::ProfileInt(const char* section, const char* key, int defaultValue,
                                  const char* file) {
    return NoThrow(static_cast<std::uint32_t>(defaultValue),
                   [&] { return posix::ProfileInt(dir_, section, key, defaultValue, file); });
}

std::uint32_t PosixOs::ProfileString(const char* section, const char* key,
                                     const char* defaultValue, char* buffer, std::uint32_t size,
                                     const char* file) {
    return NoThrow(0u, [&] {
        return posix::ProfileString(dir_, section, key, defaultValue, buffer, size, file);
    });
}

bool PosixOs::ProfileWrite(const char* section, const char* key, const char* value,
                           const char* file) {
    return NoThrow(false, [&] { return posix::ProfileWrite(dir_, section, key, value, file); });
}

RegKey PosixOs::RegOpen(RegKey parent, const char* subKey) {
    return NoThrow<RegKey>(nullptr, [&] { return RegistryOpen(dir_, parent, subKey); });
}

bool PosixOs::RegQuery(RegKey key, const char* valueName, std::uint8_t* data,
                       std::uint32_t* size) {
    return NoThrow(false, [&] { return RegistryQuery(key, valueName, data, size); });
}

void PosixOs::RegClose(RegKey key) { RegistryClose(key); }

// --- platform and driver -----------------------------------------------------

// Linux serves the port through a service that speaks the NT protocol.
std::uint32_t PosixOs::PlatformId() { return kPlatformNt; }

std::intptr_t PosixOs::DriverOpen(const char* path, std::uint32_t, std::uint32_t, std::uint32_t,
                                  std::uint32_t) {
    return NoThrow(kInvalidHandle, [&] { return DriverSocketOpen(dir_, path); });
}

bool PosixOs::DriverIoctl(std::intptr_t driver, std::uint32_t code, const void* in,
                          std::uint32_t inLen, void* out, std::uint32_t outLen,
                          std::uint32_t* returned) {
    return NoThrow(false, [&] {
        return DriverSocketIoctl(driver, code, in, inLen, out, outLen, returned);
    });
}

void PosixOs::DriverClose(std::intptr_t driver) { DriverSocketClose(driver); }

// Only the Windows 95 protocol carries flat addresses, and Linux never
// speaks it; the low bits of the pointer are as good as anything.
std::uint32_t PosixOs::FlatAddress(const void* bytes) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(bytes));
}

void* PosixOs::HostFunction(const char* name) {
    return name != nullptr ? ::dlsym(RTLD_DEFAULT, name) : nullptr;
}

// --- the native instance ----------------------------------------------------

}  // namespace posix

Os& NativeOs() {
    // Never destroyed: the add-in object's destructor runs at unload and
    // still needs it, and the kernel drops the mappings and locks at exit.
    static Os* native = new posix::PosixOs(posix::WindowsDirectoryFromEnvironment());
    return *native;
}

}  // namespace platform

#include "platform/posix/shared_mapping.h"

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/posix/errors.h"
#include "platform/posix/sigbus_guard.h"

namespace platform {
namespace posix {
namespace {

std::atomic<SharedMappingStepHook> g_stepHook{nullptr};

void Step(const std::string& name, const char* step) {
    if (SharedMappingStepHook hook = g_stepHook.load()) hook(name.c_str(), step);
}

// Before the block; 16 bytes keep the block aligned for any type.
struct Header {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t size;
    std::uint32_t reserved;
};
constexpr std::size_t kHeaderBytes = sizeof(Header);
static_assert(kHeaderBytes == kBlockOffset, "the block must stay 16-byte aligned");

std::size_t FileBytes(const BlockLayout& layout) { return kHeaderBytes + layout.size; }

// Whole pages: what a mapping covers, and what the guard replaces.
std::size_t MappedBytes(const BlockLayout& layout) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (FileBytes(layout) + page - 1) / page * page;
}

bool Resize(int fd, std::size_t size) {
    int rc;
    do {
        rc = ::ftruncate(fd, static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

// At `at` in place of what is mapped there, when given.
void* Map(int fd, std::size_t length, void* at = nullptr) {
    void* block = ::mmap(at, length, PROT_READ | PROT_WRITE, MAP_SHARED | (at != nullptr ? MAP_FIXED : 0), fd, 0);
    return block == MAP_FAILED ? nullptr : block;
}

std::unique_ptr<SharedMapping> Fail(std::string* why, const std::string& text) {
    int error = errno;
    *why = text + ": " + std::strerror(error);
    errno = error;
    return nullptr;
}

void Trace(const std::string& text) { DebugWrite(("*** Kestrel: " + text + " ***\n").c_str()); }

}  // namespace

void SetSharedMappingStepHook(SharedMappingStepHook hook) { g_stepHook.store(hook); }

SharedMapping::SharedMapping(UniqueFd gate, UniqueFd fd, void* mapped, const BlockLayout& layout, bool first,
                             std::string shown, Initialiser initialise, Plausible plausible)
    : gate_(std::move(gate)),
      fd_(std::move(fd)),
      mapped_(mapped),
      layout_(layout),
      first_(first),
      shown_(std::move(shown)),
      initialise_(std::move(initialise)),
      plausible_(std::move(plausible)),
      guard_(GuardMapping(mapped, MappedBytes(layout))) {}

std::unique_ptr<SharedMapping> SharedMapping::Open(int dir, const std::string& name, const std::string& shown,
                                                   const BlockLayout& layout, const Initialiser& initialise,
                                                   const Plausible& plausible, std::string* why) {
    UniqueFd gate = OpenFileAt(dir, name + ".init", shown + ".init", Keeper::Group, why);
    if (!gate.valid()) return nullptr;
    if (!Flock(gate.get(), LOCK_EX)) return Fail(why, "cannot lock " + shown + ".init");
    Step(name, "gate locked");
    UniqueFd fd = OpenFileAt(dir, name, shown, Keeper::Group, why);
    if (!fd.valid()) return nullptr;

    std::unique_ptr<SharedMapping> mapping;
    const bool first = Flock(fd.get(), LOCK_EX | LOCK_NB);
    if (first) {
        Step(name, "first");
        // Nobody holds the block: whatever the file holds is left over from
        // processes that are gone. Shrinking to nothing drops it all.
        if (!Resize(fd.get(), 0) || !Resize(fd.get(), FileBytes(layout))) return Fail(why, "cannot size " + shown);
        Step(name, "cleared");
        void* mapped = Map(fd.get(), MappedBytes(layout));
        if (mapped == nullptr) return Fail(why, "cannot map " + shown);
        Step(name, "mapped");
        mapping.reset(new SharedMapping(std::move(gate), std::move(fd), mapped, layout, true, shown, initialise,
                                        plausible));
        if (!mapping->Build(false)) {
            *why = shown + ": the new block did not pass its checks";
            errno = EINVAL;
            return nullptr;
        }
        Step(name, "initialised");
    } else {
        if (errno != EWOULDBLOCK) return Fail(why, "cannot lock " + shown);
        Step(name, "second");
        // Holders of the block exist, so their first opener sized it: a
        // shorter file was cut short since, and is grown back (with zeros,
        // so that its header is rebuilt below) before anything is mapped.
        struct stat info;
        Header header{};
        if (::fstat(fd.get(), &info) != 0) return Fail(why, "cannot read " + shown);
        if (static_cast<std::size_t>(info.st_size) < FileBytes(layout) && !Resize(fd.get(), FileBytes(layout)))
            return Fail(why, shown + " is cut short and cannot be grown back");
        if (::pread(fd.get(), &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
            return Fail(why, "cannot read " + shown);
        if (header.magic == layout.magic && header.version != layout.version) {
            *why = shown + " is in use by an add-in of another layout (version " + std::to_string(header.version) +
                   "; this one has version " + std::to_string(layout.version) + ")";
            errno = EPROTO;
            return nullptr;
        }
        void* mapped = Map(fd.get(), MappedBytes(layout));
        if (mapped == nullptr) return Fail(why, "cannot map " + shown);
        mapping.reset(new SharedMapping(std::move(gate), std::move(fd), mapped, layout, false, shown, initialise,
                                        plausible));
        std::string fault = mapping->Fault();
        if (!fault.empty()) {
            Trace(shown + " " + fault + "; rebuilt");
            if (!mapping->Build(false)) {
                *why = shown + ": the rebuilt block did not pass its checks";
                errno = EINVAL;
                return nullptr;
            }
        }
    }
    // Exclusive to shared for the first opener (safe: the gate is still
    // held); a plain shared lock for the others, which nobody is holding
    // exclusively while we hold the gate.
    if (!Flock(mapping->fd_.get(), LOCK_SH)) return Fail(why, "cannot lock " + shown);
    Step(name, "shared");
    Flock(mapping->gate_.get(), LOCK_UN);
    return mapping;
}

SharedMapping::~SharedMapping() {
    UnguardMapping(guard_);
    // Unmap before the lock goes, so a later first opener never clears a
    // block that is still mapped here.
    ::munmap(mapped_, MappedBytes(layout_));
}

void* SharedMapping::block() const { return static_cast<char*>(mapped_) + kHeaderBytes; }

std::string SharedMapping::Fault() const {
    Header header;
    std::memcpy(&header, mapped_, sizeof header);
    if (header.magic != layout_.magic) return "holds no block of the add-in (its header is gone)";
    if (header.version != layout_.version || header.size != layout_.size)
        return "has the header of another layout (version " + std::to_string(header.version) + ", " +
               std::to_string(header.size) + " bytes)";
    if (plausible_ && !plausible_(block())) return "holds values the add-in never writes";
    return std::string();
}

void SharedMapping::Remember() noexcept {
    try {
        if (!Fault().empty()) return;
        std::lock_guard<std::mutex> guard(copyLock_);
        copy_.assign(static_cast<const unsigned char*>(block()), static_cast<const unsigned char*>(block()) + size());
    } catch (...) {
        // Out of memory: the copy there was stays.
    }
}

bool SharedMapping::Build(bool fromCopy) {
    // The header last: a builder that dies half-way leaves none, and the
    // next one to look builds again.
    std::memset(mapped_, 0, FileBytes(layout_));
    std::lock_guard<std::mutex> guard(copyLock_);
    if (fromCopy && copy_.size() == size()) std::memcpy(block(), copy_.data(), size());
    else if (initialise_ && !initialise_(block())) return false;
    const Header header{layout_.magic, layout_.version, layout_.size, 0};
    std::memcpy(mapped_, &header, sizeof header);
    return true;
}

bool SharedMapping::Repair() noexcept {
    try {
        const bool faulted = TakeFault(guard_);
        struct stat info;
        const bool cut =
            ::fstat(fd_.get(), &info) == 0 && static_cast<std::size_t>(info.st_size) < FileBytes(layout_);
        if (!faulted && !cut && Fault().empty()) return false;
        // One repairer (or opener) at a time; whoever comes second finds
        // the work done.
        if (!Flock(gate_.get(), LOCK_EX)) return false;
        bool repaired = RepairLocked(faulted, cut);
        Flock(gate_.get(), LOCK_UN);
        return repaired;
    } catch (...) {
        Flock(gate_.get(), LOCK_UN);
        return false;
    }
}

bool SharedMapping::RepairLocked(bool faulted, bool cut) {
    std::string what;
    struct stat info;
    if (faulted || cut) {
        what = "was cut short";
        if (::fstat(fd_.get(), &info) == 0 && static_cast<std::size_t>(info.st_size) < FileBytes(layout_)) {
            what += " (" + std::to_string(info.st_size) + " of " + std::to_string(FileBytes(layout_)) + " bytes)";
            Resize(fd_.get(), FileBytes(layout_));
        }
        // The guard put zero pages of our own in place of the file's.
        if (faulted && Map(fd_.get(), MappedBytes(layout_), mapped_) == nullptr) {
            Trace(shown_ + " " + what + " and cannot be mapped again; this process works on a copy of its own");
            return true;
        }
    }
    std::string fault = Fault();
    bool fromCopy = false;
    if (!fault.empty()) {
        if (what.empty()) what = fault;
        {
            std::lock_guard<std::mutex> guard(copyLock_);
            fromCopy = copy_.size() == size();
        }
        Build(true);
    }
    if (what.empty()) return false;  // rebuilt by another process meanwhile
    Trace(shown_ + " " + what +
          (fault.empty() ? "; mapped again" : fromCopy ? "; rebuilt from this process's last copy" : "; rebuilt"));
    return true;
}

}  // namespace posix
}  // namespace platform

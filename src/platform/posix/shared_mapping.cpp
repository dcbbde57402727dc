#include "platform/posix/shared_mapping.h"

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {
namespace posix {
namespace {

std::atomic<SharedMappingStepHook> g_stepHook{nullptr};

void Step(const std::string& path, const char* step) {
    if (SharedMappingStepHook hook = g_stepHook.load()) hook(path.c_str(), step);
}

bool Resize(int fd, std::size_t size) {
    int rc;
    do {
        rc = ::ftruncate(fd, static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void* Map(int fd, std::size_t size) {
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return block == MAP_FAILED ? nullptr : block;
}

}  // namespace

void SetSharedMappingStepHook(SharedMappingStepHook hook) { g_stepHook.store(hook); }

std::unique_ptr<SharedMapping> SharedMapping::Open(const std::string& path, std::size_t size,
                                                   const Initialiser& initialise) {
    if (size == 0) {
        errno = EINVAL;
        return nullptr;
    }
    UniqueFd gate = OpenOrCreate(path + ".init");
    if (!gate.valid() || !Flock(gate.get(), LOCK_EX)) return nullptr;
    Step(path, "gate locked");
    UniqueFd fd = OpenOrCreate(path);
    if (!fd.valid()) return nullptr;

    void* block = nullptr;
    bool first = Flock(fd.get(), LOCK_EX | LOCK_NB);
    if (first) {
        Step(path, "first");
        // Nobody holds the block: whatever the file holds is left over from
        // processes that are gone. Shrinking to nothing drops it all.
        if (!Resize(fd.get(), 0) || !Resize(fd.get(), size)) return nullptr;
        Step(path, "cleared");
        block = Map(fd.get(), size);
        if (block == nullptr) return nullptr;
        Step(path, "mapped");
        if (initialise) initialise(block, size);
        Step(path, "initialised");
    } else {
        if (errno != EWOULDBLOCK) return nullptr;
        Step(path, "second");
        // Holders of the block exist, so it was sized and initialised by
        // their first opener; a shorter file is not ours to use.
        struct stat info;
        if (::fstat(fd.get(), &info) != 0) return nullptr;
        if (static_cast<std::size_t>(info.st_size) < size) {
            errno = EINVAL;
            return nullptr;
        }
    }
    // Exclusive to shared for the first opener (safe: the gate is still
    // held); a plain shared lock for the others, which nobody is holding
    // exclusively while we hold the gate.
    if (!Flock(fd.get(), LOCK_SH)) {
        int error = errno;
        if (block != nullptr) ::munmap(block, size);
        errno = error;
        return nullptr;
    }
    Step(path, "shared");
    if (block == nullptr) {
        block = Map(fd.get(), size);
        if (block == nullptr) return nullptr;
    }
    // Closing the gate's descriptor releases it.
    return std::unique_ptr<SharedMapping>(new SharedMapping(std::move(fd), block, size, first));
}

SharedMapping::~SharedMapping() {
    // Unmap before the lock goes, so a later first opener never clears a
    // block that is still mapped here.
    ::munmap(block_, size_);
}

}  // namespace posix
}  // namespace platform

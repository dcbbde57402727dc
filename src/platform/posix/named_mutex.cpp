#include "platform/posix/named_mutex.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/posix/errors.h"
#include "platform/posix/files.h"
#include "platform/posix/shared_mapping.h"

namespace platform {
namespace posix {
namespace {

struct MutexBlock {
    pthread_mutex_t mutex;
    // The process that holds it (0: none), written by the holder, so that
    // the next owner of an abandoned mutex knows whose end to wait for.
    std::int32_t ownerPid;
};

constexpr BlockLayout kMutexLayout{0x4B4D5458, 1, sizeof(MutexBlock)};  // "KMTX"

// How long one slice of a wait is: between slices the file and the owner
// are checked.
constexpr long kSliceNs = 200 * 1000 * 1000;

// One handle given out by NamedMutexOpen.
struct Handle {
    MutexBlock* block;
    SharedMapping* mapping;
    std::string path;
};

std::atomic<std::chrono::milliseconds::rep> g_deadOwnerWaitMs{1000};

// How many times this thread holds each mutex.
thread_local std::map<const MutexBlock*, int> t_depths;

// Whether some thread of process `pid` has not yet finished its exit. A
// thread that is a zombie, or gone, has dropped its share of the open
// files; the process's files close with the last such thread. The leader's
// state alone does not tell: it can be a zombie while other threads still
// run.
bool StillRunning(std::int32_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = ::opendir(path.c_str());
    if (tasks == nullptr) return false;
    bool running = false;
    while (const dirent* task = ::readdir(tasks)) {
        if (task->d_name[0] == '.') continue;
        std::string statPath = path + "/" + task->d_name + "/stat";
        std::FILE* file = std::fopen(statPath.c_str(), "re");
        if (file == nullptr) continue;  // released meanwhile
        char text[512];
        std::size_t length = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        text[length] = '\0';
        // "tid (name) state ...": the name may hold anything, ')' included.
        const char* end = std::strrchr(text, ')');
        if (end != nullptr && end[1] != '\0' && end[2] != 'Z' && end[2] != 'X') {
            running = true;
            break;
        }
    }
    ::closedir(tasks);
    return running;
}

// Waits (a second at most, unless set otherwise) until a dead owner's
// process has finished dying.
// The robust mutex is handed on while the dying process is still tearing
// down, before its files are closed; a driver request it sent just before
// it died could otherwise still reach the port service after the new
// owner's first ones.
void AwaitEndOf(std::int32_t pid) {
    if (pid <= 0 || pid == static_cast<std::int32_t>(::getpid())) return;
    // A deadline, not a count of polls: each poll reads /proc, which takes
    // long enough on a loaded machine to stretch 5000 polls well past it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_deadOwnerWaitMs.load());
    while (StillRunning(pid) && std::chrono::steady_clock::now() < deadline) ::usleep(200);
}

// A process keeps each mutex mapped until it exits, whatever its handles
// do: a robust mutex sits on its owner thread's robust list, which the C
// library and the kernel walk through the mapping, so unmapping a mutex
// that some thread of ours may still hold would corrupt that list. There
// is one mapping per distinct name and directory, so this stays small.
std::mutex g_mappingsLock;
std::map<std::string, std::unique_ptr<SharedMapping>>& Mappings() {
    static auto* mappings = new std::map<std::string, std::unique_ptr<SharedMapping>>;
    return *mappings;
}

// Builds a mutex of the kind every handle uses.
bool BuildMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    int robust = PTHREAD_MUTEX_STALLED;
    bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              // Without the robust attribute a dead owner would block
              // everyone for good; refuse to build such a mutex.
              pthread_mutexattr_getrobust(&attributes, &robust) == 0 &&
              robust == PTHREAD_MUTEX_ROBUST && pthread_mutex_init(mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

bool InitialiseMutex(pthread_mutex_t* mutex) {
    if (!BuildMutex(mutex)) return false;
    if (!MutexProvesRobustAndRecursive(mutex)) {
        std::fprintf(stderr, "*** Kestrel: the named mutex is not robust and recursive here ***\n");
        return false;
    }
    return true;
}

// Whether a mutex's block could be one we built: glibc keeps the kind of
// the mutex (robust, recursive, shared) in it, and a block of another kind
// would make every lock fail or misbehave.
bool PlausibleMutex(const void* block) {
    const MutexBlock& mutex = *static_cast<const MutexBlock*>(block);
    if (mutex.ownerPid < 0) return false;
#ifdef __GLIBC__
    static const int builtKind = [] {
        pthread_mutex_t probe;
        return BuildMutex(&probe) ? probe.__data.__kind : -1;
    }();
    return mutex.mutex.__data.__kind == builtKind;
#else
    return true;
#endif
}

#ifdef __GLIBC__
// The mutex's lock word, as the kernel's robust futexes define it: the
// owner's thread id, and flags for waiters and for an owner that died.
int* LockWord(MutexBlock* block) { return &block->mutex.__data.__lock; }

// Whether a thread of that number runs (in any process).
bool ThreadExists(int tid) { return tid > 0 && (::kill(tid, 0) == 0 || errno != ESRCH); }

// Waits a slice at most for the lock word to change, as glibc's own lock
// waits: the waiters flag set first, so that the owner's release (or the
// kernel, at the owner's death) wakes this thread. False when the slice ran
// out and nothing changed.
bool AwaitChange(MutexBlock* block) {
    int* word = LockWord(block);
    int seen = __atomic_load_n(word, __ATOMIC_ACQUIRE);
    if (seen == 0 || (seen & FUTEX_OWNER_DIED) != 0) return true;  // free, or to be taken over: try now
    if ((seen & FUTEX_WAITERS) == 0) {
        if (!__atomic_compare_exchange_n(word, &seen, seen | FUTEX_WAITERS, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
            return true;
        seen |= FUTEX_WAITERS;
    }
    timespec slice{0, kSliceNs};
    return ::syscall(SYS_futex, word, FUTEX_WAIT, seen, &slice, nullptr, 0) == 0 || errno != ETIMEDOUT;
}

// A lock word that names a thread which does not exist was forged (the
// kernel marks the mutex of an owner that dies, and numbers are not given
// out again while it runs). It is released as the kernel releases the
// mutex of a dead owner: marked, with a waiter woken, so that the next
// owner acquires it abandoned.
void ReleaseIfOwnerGone(MutexBlock* block, const std::string& shown) {
    int* word = LockWord(block);
    int seen = __atomic_load_n(word, __ATOMIC_ACQUIRE);
    const int tid = seen & FUTEX_TID_MASK;
    if (seen == 0 || (seen & FUTEX_OWNER_DIED) != 0 || ThreadExists(tid)) return;
    const int dead = (seen & FUTEX_WAITERS) | FUTEX_OWNER_DIED;
    if (!__atomic_compare_exchange_n(word, &seen, dead, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) return;
    ::syscall(SYS_futex, word, FUTEX_WAKE, 1, nullptr, nullptr, 0);
    try {
        DebugWrite(("*** Kestrel: the mutex " + shown + " was held by thread " + std::to_string(tid) +
                    ", which does not exist; taken over as abandoned ***\n").c_str());
    } catch (...) {
        // out of memory: taken over all the same
    }
}

// Takes the mutex: tried, then waited for in slices, between which its
// file is checked and a forged owner released.
int Lock(MutexBlock* block, SharedMapping* mapping, const std::string& shown) {
    bool waited = false;
    int rc;
    while ((rc = (mapping->Repair(), pthread_mutex_trylock(&block->mutex))) == EBUSY) {
        waited = true;
        if (!AwaitChange(block)) ReleaseIfOwnerGone(block, shown);
    }
    // Others may wait as this thread did: its release must wake one, as
    // glibc's lock sees to after a wait.
    if (waited && (rc == 0 || rc == EOWNERDEAD)) __atomic_fetch_or(LockWord(block), FUTEX_WAITERS, __ATOMIC_ACQ_REL);
    return rc;
}
#else
int Lock(MutexBlock* block, SharedMapping* mapping, const std::string&) {
    mapping->Repair();
    return pthread_mutex_lock(&block->mutex);
}
#endif

// The file of a mutex: names may hold any character, files only some.
std::string MutexFileName(const char* name) {
    std::string file = "mutex.";
    for (const char* p = name; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '_' || c == '-';
        if (plain) {
            file += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            file += escaped;
        }
    }
    return file;
}

}  // namespace

bool MutexProvesRobustAndRecursive(pthread_mutex_t* mutex) {
    // A thread that ends holding the mutex stands in for a process that
    // dies holding it: the next owner must find it abandoned. trylock, so
    // a mutex without the attribute fails the check instead of hanging it.
    int taken = -1;
    std::thread([&] { taken = pthread_mutex_lock(mutex); }).join();
    if (taken != 0) return false;
    int rc = pthread_mutex_trylock(mutex);
    if (rc != EOWNERDEAD) {
        if (rc == 0) pthread_mutex_unlock(mutex);
        return false;
    }
    if (pthread_mutex_consistent(mutex) != 0) return false;
    bool again = pthread_mutex_trylock(mutex) == 0;
    if (again) pthread_mutex_unlock(mutex);
    pthread_mutex_unlock(mutex);
    // Once made consistent and released, it must be an ordinary free mutex.
    if (pthread_mutex_trylock(mutex) != 0) return false;
    pthread_mutex_unlock(mutex);
    return again;
}

std::string NamedMutexPath(const std::string& dir, const char* name) {
    return dir + "/kestrel/" + MutexFileName(name);
}

std::unique_ptr<SharedMapping> OpenMutexBlock(const std::string& dir, const char* name, std::string* why) {
    UniqueFd kestrel = OpenKestrelDirectory(dir, why);
    if (!kestrel.valid()) return nullptr;
    return SharedMapping::Open(
        kestrel.get(), MutexFileName(name), NamedMutexPath(dir, name), kMutexLayout,
        [](void* block) { return InitialiseMutex(&static_cast<MutexBlock*>(block)->mutex); }, PlausibleMutex, why);
}

void SetDeadOwnerWaitLimit(std::chrono::milliseconds limit) { g_deadOwnerWaitMs = limit.count(); }

MutexHandle NamedMutexOpen(const std::string& dir, const char* name) {
    if (name == nullptr || *name == '\0') {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    std::string path = NamedMutexPath(dir, name);
    std::lock_guard<std::mutex> guard(g_mappingsLock);
    auto& mappings = Mappings();
    auto found = mappings.find(path);
    if (found == mappings.end()) {
        std::string why;
        auto mapping = OpenMutexBlock(dir, name, &why);
        if (!mapping) {
            int error = errno;
            DebugWrite(("*** Kestrel: the mutex " + path + " cannot be shared: " + why + " ***\n").c_str());
            SetLastErrorFromErrno(error);
            return nullptr;
        }
        found = mappings.emplace(path, std::move(mapping)).first;
    }
    return new Handle{static_cast<MutexBlock*>(found->second->block()), found->second.get(), path};
}

WaitResult NamedMutexWait(MutexHandle mutex) {
    if (mutex == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return WaitResult::Failed;
    }
    Handle& handle = *static_cast<Handle*>(mutex);
    MutexBlock* block = handle.block;
    int rc = Lock(block, handle.mapping, handle.path);
    if (rc == 0) {
        if (t_depths[block]++ == 0) block->ownerPid = static_cast<std::int32_t>(::getpid());
        return WaitResult::Acquired;
    }
    if (rc == EOWNERDEAD) {
        // The owner died inside its critical section; the state it guarded
        // is the next owner's to judge, as with an abandoned Windows mutex.
        std::int32_t dead = block->ownerPid;
        if (pthread_mutex_consistent(&block->mutex) == 0) {
            t_depths[block] = 1;
            block->ownerPid = static_cast<std::int32_t>(::getpid());
            AwaitEndOf(dead);
            return WaitResult::Abandoned;
        }
        pthread_mutex_unlock(&block->mutex);
        rc = ENOTRECOVERABLE;
    }
    SetLastErrorFromErrno(rc);
    return WaitResult::Failed;
}

bool NamedMutexRelease(MutexHandle mutex) {
    if (mutex == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    MutexBlock* block = static_cast<Handle*>(mutex)->block;
    auto held = t_depths.find(block);
    if (held == t_depths.end()) {
        // Every acquisition goes through NamedMutexWait, so this thread
        // does not own it; an unlock by a non-owner is an error, not
        // something to put to the mutex.
        SetLastError(kErrorNotOwner);
        return false;
    }
    const bool last = held->second == 1;
    if (last) block->ownerPid = 0;
    int rc = pthread_mutex_unlock(&block->mutex);
    if (rc == 0) {
        if (--held->second == 0) t_depths.erase(held);
        return true;
    }
    if (rc == EPERM) {
        // Rebuilt, or taken over from a forged owner, since this thread
        // took it: it holds it no longer.
        t_depths.erase(held);
        SetLastError(kErrorNotOwner);
        return false;
    }
    if (last) block->ownerPid = static_cast<std::int32_t>(::getpid());
    SetLastError(Win32FromErrno(rc));
    return false;
}

bool NamedMutexHeld(MutexHandle mutex) {
    return mutex != nullptr && t_depths.count(static_cast<Handle*>(mutex)->block) != 0;
}

void NamedMutexClose(MutexHandle mutex) { delete static_cast<Handle*>(mutex); }

MutexHolder NamedMutexHolder(const std::string& dir, const char* name) {
    MutexHolder holder;
    std::string why;
    UniqueFd fd = OpenForReading(NamedMutexPath(dir, name), &why);
    MutexBlock block;
    if (!fd.valid() || ::pread(fd.get(), &block, sizeof block, kBlockOffset) != static_cast<ssize_t>(sizeof block))
        return holder;
    holder.pid = block.ownerPid > 0 ? block.ownerPid : 0;
#ifdef __GLIBC__
    holder.tid = block.mutex.__data.__lock & FUTEX_TID_MASK;
#endif
    return holder;
}

}  // namespace posix
}  // namespace platform

#include "platform/posix/named_mutex.h"

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "platform/posix/errors.h"
#include "platform/posix/files.h"
#include "platform/posix/shared_mapping.h"

namespace platform {
namespace posix {
namespace {

struct MutexBlock {
    pthread_mutex_t mutex;
};

// One handle given out by NamedMutexOpen.
struct Handle {
    pthread_mutex_t* mutex;
};

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

bool InitialiseMutex(pthread_mutex_t* mutex) {
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

}  // namespace

std::string NamedMutexPath(const std::string& dir, const char* name) {
    std::string file = dir + "/kestrel/mutex.";
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
        if (!MakeDirectories(dir + "/kestrel")) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        bool built = true;
        auto mapping = SharedMapping::Open(path, sizeof(MutexBlock), [&](void* block, std::size_t) {
            built = InitialiseMutex(&static_cast<MutexBlock*>(block)->mutex);
        });
        if (!mapping) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        if (!built) {
            SetLastError(kErrorInvalidFunction);
            return nullptr;
        }
        found = mappings.emplace(path, std::move(mapping)).first;
    }
    return new Handle{&static_cast<MutexBlock*>(found->second->block())->mutex};
}

WaitResult NamedMutexWait(MutexHandle mutex) {
    if (mutex == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return WaitResult::Failed;
    }
    pthread_mutex_t* pmutex = static_cast<Handle*>(mutex)->mutex;
    int rc = pthread_mutex_lock(pmutex);
    if (rc == 0) return WaitResult::Acquired;
    if (rc == EOWNERDEAD) {
        // The owner died inside its critical section; the state it guarded
        // is the next owner's to judge, as with an abandoned Windows mutex.
        if (pthread_mutex_consistent(pmutex) == 0) return WaitResult::Abandoned;
        pthread_mutex_unlock(pmutex);
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
    int rc = pthread_mutex_unlock(static_cast<Handle*>(mutex)->mutex);
    if (rc == 0) return true;
    SetLastError(rc == EPERM ? kErrorNotOwner : Win32FromErrno(rc));
    return false;
}

void NamedMutexClose(MutexHandle mutex) { delete static_cast<Handle*>(mutex); }

}  // namespace posix
}  // namespace platform

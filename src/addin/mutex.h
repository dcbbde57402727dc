// The named cross-process mutex and the scoped hold of it.
#pragma once

#include <optional>

#include "platform/platform.h"

class TAutoMutex {
public:
    TAutoMutex() = default;
    TAutoMutex(const TAutoMutex&) = delete;
    TAutoMutex& operator=(const TAutoMutex&) = delete;
    ~TAutoMutex() { Close(); }

    // Creates the mutex, or opens the one another process created.
    void Create(const char* szName);
    void Close();
    platform::MutexHandle Handle() const { return hMutex; }

private:
    platform::MutexHandle hMutex = nullptr;
};

// Holds the mutex from construction to destruction, on every way out.
class TMutexAccess {
public:
    explicit TMutexAccess(const TAutoMutex& mutex);
    TMutexAccess(const TMutexAccess&) = delete;
    TMutexAccess& operator=(const TMutexAccess&) = delete;
    ~TMutexAccess();

private:
    platform::MutexHandle hMutex;
};

// The hold taken by Open, Close and RefreshLocks, which are not locked
// operations: they serialise with the others when there is a mutex, and
// without one they write no wait-failure line of their own.
class TMutexAccessIfAny {
public:
    explicit TMutexAccessIfAny(const TAutoMutex& mutex) {
        if (mutex.Handle()) access.emplace(mutex);
    }

private:
    std::optional<TMutexAccess> access;
};

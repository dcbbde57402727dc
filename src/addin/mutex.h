// The named cross-process mutex and the scoped hold of it.
#pragma once

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

#include "addin/mutex.h"

void TAutoMutex::Create(const char* szName) {
    hMutex = platform::os().MutexCreate(szName);
    if (hMutex == nullptr) {
        platform::Os& os = platform::os();
        os.DebugOutput("*** TAutoMutex \"");
        os.DebugOutput(szName);
        os.DebugOutput("\" Create Failed ***\r\n");
    }
}

void TAutoMutex::Close() {
    if (hMutex != nullptr) {
        platform::os().MutexClose(hMutex);
        hMutex = nullptr;
    }
}

TMutexAccess::TMutexAccess(const TAutoMutex& mutex) : hMutex(mutex.Handle()) {
    // An abandoned mutex counts as acquired: its owner died, the state it
    // guards is ours to carry on with. A failed wait is reported and the
    // operation runs unserialised rather than not at all.
    platform::Os& os = platform::os();
    if (hMutex == nullptr || os.MutexWait(hMutex) == platform::WaitResult::Failed)
        os.DebugOutput("*** TMutexAccess Wait Failed ***\r\n");
}

TMutexAccess::~TMutexAccess() {
    if (hMutex != nullptr) platform::os().MutexRelease(hMutex);
}

#include "addin/mutex.h"

#include "addin/shared_state.h"

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
    platform::WaitResult result =
        hMutex != nullptr ? os.MutexWait(hMutex) : platform::WaitResult::Failed;
    if (result == platform::WaitResult::Failed) {
        os.DebugOutput("*** TMutexAccess Wait Failed ***\r\n");
    } else if (result == platform::WaitResult::Abandoned) {
        // The dead owner may have been killed inside a selection exchange,
        // after the unit took the command and before the record said so:
        // no cached selection can be trusted, so the next one is sent again.
        SharedState& state = *os.Shared();
        for (McbRecord& record : state.records) {
            record.nCurDevSeg = -1;
            record.nCurView = -1;
        }
    }
}

TMutexAccess::~TMutexAccess() {
    if (hMutex != nullptr) platform::os().MutexRelease(hMutex);
}

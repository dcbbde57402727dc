#include "addin/local_addin.h"

#include <cstring>
#include <new>

#include "addin/process_state.h"
#include "common/names.h"
#include "platform/platform.h"

LocalAddin::LocalAddin(const char* szTag)
    : nFirstMcb(MCB_FIRST),
      nMcbCount(MCB_COUNT),
      dwFixed(1),
      pMcbTable(nullptr),
      szNameTag{},
      pnSystemOpenCount(nullptr) {
    SharedState* pShared = platform::os().Shared();
    pMcbTable = pShared->records;
    pnSystemOpenCount = &pShared->nSystemOpenCount;
    std::strncpy(szNameTag, szTag, sizeof szNameTag);
    szNameTag[sizeof szNameTag - 1] = '\0';
    mutex.Create(McbMutexName(szNameTag).c_str());
}

LocalAddin::~LocalAddin() { mutex.Close(); }

void* LocalAddin::DeletingDestructor(std::uint32_t dwFlags) {
    // Closing the mutex is all the destruction there is: the classes hold
    // nothing else, and the destructor that runs later finds it closed.
    mutex.Close();
    if (dwFlags & 1) ::operator delete(this);
    return this;
}

// The system-wide count is read and changed under the mutex, so two
// processes attaching at once cannot both take the first-in-system branch.
// The mutex is re-entrant, so the start-up it runs can take it again.
bool LocalAddin::Open() {
    TMutexAccessIfAny access(mutex);
    ProcessState& process = Process();
    if (process.nProcessOpenCount != 0) {
        ++process.nProcessOpenCount;
    } else if (*pnSystemOpenCount > 0) {
        ProcessStartup(0);
        ++*pnSystemOpenCount;
        process.nProcessOpenCount = 1;
    } else {
        BeforeFirstStartup();
        ProcessStartup(1);
        *pnSystemOpenCount = 1;
        process.nProcessOpenCount = 1;
    }
    return true;
}

bool LocalAddin::Close() {
    TMutexAccessIfAny access(mutex);
    ProcessState& process = Process();
    if (process.nProcessOpenCount > 1) {
        --process.nProcessOpenCount;
    } else if (*pnSystemOpenCount > 1) {
        ProcessShutdown(0);
        --*pnSystemOpenCount;
        process.nProcessOpenCount = 0;
    } else {
        ProcessShutdown(1);
        AfterLastShutdown();
        *pnSystemOpenCount = 0;
        process.nProcessOpenCount = 0;
    }
    return true;
}

std::int32_t LocalAddin::SetDebugLevel(std::int32_t nLevel) {
    std::int32_t nPrevious = Process().nDebugLevel;
    if (nLevel >= 0) Process().nDebugLevel = nLevel;
    return nPrevious;
}

void LocalAddin::InvalidateMcb(std::int32_t) {}
void LocalAddin::ProcessStartup(std::uint32_t) {}
void LocalAddin::ProcessShutdown(std::uint32_t) {}
void LocalAddin::BeforeFirstStartup() {}
void LocalAddin::AfterLastShutdown() {}

McbRecord* LocalAddin::Record(std::int32_t nMcb) const {
    std::int32_t nIndex = nMcb - nFirstMcb;
    if (nIndex < 0 || nIndex >= nMcbCount) return nullptr;
    return &pMcbTable[nIndex];
}

McbRecord* LocalAddin::ValidRecord(std::int32_t nMcb, std::int32_t nDet) {
    return IsValidDetector(nMcb, nDet) ? Record(nMcb) : nullptr;
}

// Finding every detector at start-up and loading its stored values.
#include <cstdlib>

#include "addin/kestrel.h"
#include "addin/numbers.h"
#include "addin/trace.h"
#include "discovery/probe.h"

void LocalAddin::LoadDetectorValues(std::int32_t nMcb, std::int32_t nDet) {
    McbRecord& record = *Record(nMcb);
    const std::int32_t i = nDet - 1;
    char szValue[128];
    if (GetAppData(nMcb, nDet, "@LOCK", "", szValue, sizeof szValue) != 0)
        record.dwLock[i] = StrToU32(szValue);
    record.tStartTime[i] = 0;
    if (GetAppData(nMcb, nDet, "@START", "", szValue, sizeof szValue) != 0)
        record.tStartTime[i] = StrToI32(szValue);
    record.dwDetectorWord[i] = 0;
}

bool Kestrel::InitDetectors() {
    TMutexAccess access(mutex);
    std::int32_t nTotal = 0;
    for (std::int32_t nMcb = MCB_FIRST; nMcb <= MCB_LAST; ++nMcb) {
        ProbeMcb(nMcb);
        nTotal += Record(nMcb)->nDetectors;
    }
    if (nTotal <= 0) {
        DebugTrace(0, "Kestrel: No detectors for local access\r\n");
        return true;
    }
    for (std::int32_t nMcb = MCB_FIRST; nMcb <= MCB_LAST; ++nMcb) {
        McbRecord& record = *Record(nMcb);
        for (std::int32_t nDet = 1; nDet <= record.nDetectors && nDet <= MAX_DETECTORS; ++nDet)
            LoadDetectorValues(nMcb, nDet);
    }
    DebugTrace(0, "Kestrel: %d detectors for local access\r\n", nTotal);
    return true;
}

// The whole refresh runs under the mutex, so no probe or operation of
// another process sees a half-refreshed table.
void LocalAddin::RefreshLocks() {
    TMutexAccessIfAny access(mutex);
    for (std::int32_t nMcb = nFirstMcb; nMcb < nFirstMcb + nMcbCount; ++nMcb) {
        McbRecord& record = *Record(nMcb);
        for (std::int32_t nDet = 1; nDet <= record.nDetectors && nDet <= MAX_DETECTORS; ++nDet)
            LoadDetectorValues(nMcb, nDet);
    }
}

// The operations that only read or write the shared MCB table.
#include <cstring>

#include "addin/local_addin.h"

std::uint32_t LocalAddin::GetDetectorWord(std::int32_t nMcb, std::int32_t nDet) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    return pRecord ? pRecord->dwDetectorWord[nDet - 1] : 0;
}

void LocalAddin::SetDetectorWord(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwValue) {
    TMutexAccess access(mutex);
    if (McbRecord* pRecord = ValidRecord(nMcb, nDet)) pRecord->dwDetectorWord[nDet - 1] = dwValue;
}

bool LocalAddin::GetMcbVersion(std::int32_t nMcb, char* szVersion, std::int32_t nSize) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, 1);
    if (pRecord && szVersion && nSize > 0) std::strncpy(szVersion, pRecord->szVersion, nSize);
    // The text is always terminated, also when it was cut or the MCB invalid.
    if (szVersion && nSize > 0) szVersion[nSize - 1] = '\0';
    return pRecord != nullptr;
}

std::uint32_t LocalAddin::GetDetectorChannels(std::int32_t nMcb, std::int32_t nDet) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    return pRecord ? pRecord->wChannels[nDet - 1] : 0;
}

std::int32_t LocalAddin::GetDetectorCount(std::int32_t nMcb) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, 1);
    return pRecord ? pRecord->nDetectors : 0;
}

bool LocalAddin::GetFeatures(std::int32_t nMcb, std::int32_t nDet, std::uint32_t* pdwFeatures,
                             std::int32_t nCount) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return false;
    // Words asked for with nowhere to put them: nothing delivered.
    if (nCount > 0 && !pdwFeatures) return false;
    for (std::int32_t i = 0; i < nCount; ++i)
        pdwFeatures[i] = i < FEATURE_WORDS ? pRecord->dwFeatures[nDet - 1][i] : 0;
    return true;
}

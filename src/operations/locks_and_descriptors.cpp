// Locks, descriptions and identifiers: named values with defaults.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "addin/local_addin.h"
#include "addin/numbers.h"
#include "addin/text.h"
#include "addin/trace.h"

std::uint32_t LocalAddin::GetLock(std::int32_t nMcb, std::int32_t nDet, char* szOwner, std::int32_t nSize) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return 0;
    if (szOwner && nSize >= 1) {
        char szLock[128];
        if (GetAppData(nMcb, nDet, "@LOCK", "", szLock, sizeof szLock) != 0) {
            // The owner follows the lock number and its separators.
            const char* p = szLock;
            while (*p && (std::isdigit(static_cast<unsigned char>(*p)) ||
                          std::ispunct(static_cast<unsigned char>(*p)) ||
                          std::isspace(static_cast<unsigned char>(*p))))
                ++p;
            CopyText(szOwner, p, nSize);
        }
    }
    return pRecord->dwLock[nDet - 1];
}

void LocalAddin::SetLock(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwLock, const char* szOwner) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return;
    pRecord->dwLock[nDet - 1] = dwLock;
    char szLock[128];
    int nLength = std::snprintf(szLock, sizeof szLock, "%lu %s", static_cast<unsigned long>(dwLock),
                                szOwner ? szOwner : "");
    // A cut owner would be stored as another owner's name: not stored.
    if (nLength < 0 || nLength >= static_cast<int>(sizeof szLock)) {
        DebugTrace(0, "Kestrel::SetLock(): owner text too long for MCB %d detector %d, lock not stored\r\n",
                   nMcb, nDet);
        return;
    }
    SetAppData(nMcb, nDet, "@LOCK", szLock);
}

bool LocalAddin::GetDescription(std::int32_t nMcb, std::int32_t nDet, char* szDesc, std::int32_t nSize,
                                bool* pbDefault) {
    TMutexAccess access(mutex);
    bool bDefault = true;
    bool bValid = false;
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) {
        CopyText(szDesc, "Invalid Detector", nSize);
    } else {
        bValid = true;
        // A size below 1 leaves the buffer alone: it can hold nothing.
        if (GetAppData(nMcb, nDet, "@DESC", "", szDesc, nSize) != 0) {
            bDefault = false;
        } else {
            char szDefault[32];
            if (pRecord->nDetectors < 2)
                std::snprintf(szDefault, sizeof szDefault, "MCB %d", nMcb);
            else
                std::snprintf(szDefault, sizeof szDefault, "MCB %d Input %d", nMcb, nDet);
            CopyText(szDesc, szDefault, nSize);
        }
    }
    if (pbDefault) *pbDefault = bDefault;
    return bValid;
}

bool LocalAddin::GetDetectorId(std::int32_t nMcb, std::int32_t nDet, std::uint32_t* pdwId, bool* pbDefault) {
    TMutexAccess access(mutex);
    std::uint32_t dwId = 0;
    bool bDefault = true;
    bool bValid = ValidRecord(nMcb, nDet) != nullptr;
    if (bValid) {
        char szId[32];
        if (GetAppData(nMcb, nDet, "@ID", "", szId, sizeof szId) > 0) {
            dwId = StrToU32(szId);
            bDefault = false;
        } else {
            dwId = static_cast<std::uint32_t>(nMcb * 100 + nDet);
        }
    }
    if (pdwId) *pdwId = dwId;
    if (pbDefault) *pbDefault = bDefault;
    return bValid;
}

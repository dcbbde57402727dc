// Locks, descriptions and identifiers: named values with defaults.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "addin/local_addin.h"
#include "addin/numbers.h"
#include "addin/text.h"

namespace {

// Digits, punctuation and white space as the "C" locale classes them,
// whatever locale the host has set: bytes from 0x80 up begin an owner.
bool IsLockSeparator(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 0x21 && u <= 0x40) || (u >= 0x5B && u <= 0x60) || (u >= 0x7B && u <= 0x7E) || u == ' ' ||
           (u >= '\t' && u <= '\r');
}

}  // namespace

std::uint32_t LocalAddin::GetLock(std::int32_t nMcb, std::int32_t nDet, char* szOwner, std::int32_t nSize) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return 0;
    if (szOwner && nSize >= 1) {
        char szLock[128];
        if (GetAppData(nMcb, nDet, "@LOCK", "", szLock, sizeof szLock) != 0) {
            // The owner follows the lock number and its separators.
            const char* p = szLock;
            while (*p && IsLockSeparator(*p)) ++p;
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
    // A cut owner would be stored as another owner's name: not stored (and,
    // like every named-value operation, not traced).
    if (nLength < 0 || nLength >= static_cast<int>(sizeof szLock)) return;
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

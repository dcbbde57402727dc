// Whether a detector is acquiring now.
#include <cstdlib>
#include <cstring>

#include "addin/kestrel.h"
#include "addin/numbers.h"
#include "protocol/dialog.h"

namespace {
constexpr std::int32_t STATUS_ANSWERED = 1;
constexpr std::int32_t STATUS_INVALID = -1;
constexpr std::int32_t STATUS_NO_ANSWER = -3;
}  // namespace

// Without a usable answer a detector counts as active: the safe guess for
// a caller about to change its data.
bool Kestrel::IsActive(std::int32_t nMcb, std::int32_t nDet, std::int32_t* pnStatus) {
    bool bActive = true;
    std::int32_t nStatus = STATUS_INVALID;
    TMutexAccess access(mutex);
    if (McbRecord* pRecord = ValidRecord(nMcb, nDet)) {
        nStatus = STATUS_NO_ANSWER;
        if (pRecord->bResponding) {
            const char* szCmd = pRecord->bDevices ? "SHOW_ACTI_DEVI" : "SHOW_ACTI";
            char szResp[16];
            std::int32_t nRespLen = 0, nLocalErr = 0;
            if (mcb_dialog(nMcb, szCmd, static_cast<std::int32_t>(std::strlen(szCmd)), sizeof szResp, szResp,
                           &nRespLen, &nLocalErr, nullptr) == 1 &&
                nLocalErr == 0 && nRespLen >= 10 && std::strncmp(szResp, "$C", 2) == 0) {
                szResp[7] = '\0';
                std::uint32_t dwMask = StrToU32(szResp + 2) & 0xFFFF;
                bActive = nDet <= 16 && (dwMask >> (nDet - 1) & 1) != 0;
                nStatus = STATUS_ANSWERED;
            }
        }
    }
    if (pnStatus) *pnStatus = nStatus;
    return bActive;
}

// Whether a detector can be served, the host's raw command channel, and
// forgetting an MCB's selection.
#include <cstring>

#include "addin/kestrel.h"
#include "addin/process_state.h"
#include "addin/trace.h"
#include "discovery/probe.h"
#include "platform/platform.h"
#include "protocol/dialog.h"
#include "protocol/selection.h"

namespace {
constexpr std::uint32_t REPROBE_INTERVAL = 2000;
}

bool Kestrel::IsValidDetector(std::int32_t nMcb, std::int32_t nDet) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = Record(nMcb);
    if (!pRecord || nDet < 1 || nDet > MAX_DETECTORS) return false;
    if (pRecord->nMailboxType != -1) return nDet <= pRecord->nDetectors;

    // Absent or failed at the last probe: probe again, but not more often
    // than every two seconds, and never from within a probe of this process.
    ProcessState& process = Process();
    if (platform::os().TickCount() - pRecord->dwProbeTick <= REPROBE_INTERVAL) return false;
    if (process.bProbing) return false;
    process.bProbing = true;
    ProbeMcb(nMcb);
    process.bProbing = false;
    return pRecord->nMailboxType != -1 && nDet <= pRecord->nDetectors;
}

bool Kestrel::SendCommand(std::int32_t nMcb, std::int32_t nDet, const char* szCmd,
                          std::int32_t nRespSize, char* szResp, std::int32_t* pnRespLen,
                          std::int32_t* pnLocalErr, std::int32_t* pnStatus2) {
    TMutexAccess access(mutex);
    // A size with no buffer behind it would have the response written
    // through a null pointer: refused before anything is sent.
    const bool bNoBuffer = nRespSize > 0 && !szResp;
    if (bNoBuffer) DebugTrace(0, "Kestrel::SendCommand(): no buffer for a response of %d bytes!\r\n", nRespSize);
    if (szCmd && !bNoBuffer && IsValidDetector(nMcb, nDet) && SetDevSeg(nMcb, nDet, 1)) {
        return mcb_dialog(nMcb, szCmd, static_cast<std::int32_t>(std::strlen(szCmd)), nRespSize,
                          szResp, pnRespLen, pnLocalErr, pnStatus2) == 1;
    }
    if (pnLocalErr) *pnLocalErr = -1;
    if (pnStatus2) *pnStatus2 = 0;
    if (pnRespLen) *pnRespLen = 0;
    if (nRespSize > 0 && szResp) szResp[0] = '\0';
    return false;
}

void Kestrel::InvalidateMcb(std::int32_t nMcb) {
    McbRecord* pRecord = Record(nMcb);
    if (!pRecord) return;
    TMutexAccess access(mutex);
    pRecord->nCurDevSeg = -1;
    pRecord->nCurView = -1;
}

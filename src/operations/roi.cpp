// Setting and clearing regions of interest.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "addin/kestrel.h"
#include "addin/trace.h"
#include "operations/roi.h"
#include "protocol/dialog.h"
#include "protocol/selection.h"

namespace {

struct Exchange {
    std::int32_t nResult;    // 1 when completed
    std::int32_t nLocalErr;
    std::int32_t nStatus2;
};

Exchange Run(std::int32_t nMcb, const char* szCmd) {
    Exchange exchange{0, 0, 0};
    exchange.nResult = mcb_dialog(nMcb, szCmd, static_cast<std::int32_t>(std::strlen(szCmd)), 0,
                                  nullptr, nullptr, &exchange.nLocalErr, &exchange.nStatus2);
    return exchange;
}

void Store(std::int32_t* pnLocalErr, std::int32_t* pnStatus2, std::int32_t nLocalErr, std::int32_t nStatus2) {
    if (pnLocalErr) *pnLocalErr = nLocalErr;
    if (pnStatus2) *pnStatus2 = nStatus2;
}

}  // namespace

// What the two operations share: both outputs cleared, then validation and
// both selections: ROI_DONE, with "KEYWORD start, length" in szCmd, when
// the MCB is aimed at the detector and view, else ROI_INVALID with a trace.
std::int32_t Kestrel::RoiExchange(const char* szWho, const char* szKeyword, std::int32_t nMcb, std::int32_t nDet,
                                  std::uint32_t dwStart, std::uint32_t dwLength, std::int32_t nView,
                                  std::int32_t* pnLocalErr, std::int32_t* pnStatus2, char (&szCmd)[32]) {
    Store(pnLocalErr, pnStatus2, 0, 0);
    std::snprintf(szCmd, sizeof szCmd, "%s %u, %u", szKeyword, static_cast<unsigned>(dwStart),
                  static_cast<unsigned>(dwLength));
    if (!IsValidDetector(nMcb, nDet)) return ROI_INVALID;
    if (!SetDevSeg(nMcb, nDet, 1)) {
        DebugTrace(0, "Kestrel::%s(): Could not select DevSeg!\r\n", szWho);
        return ROI_INVALID;
    }
    if (!SetView(nMcb, nDet, nView)) {
        DebugTrace(0, "Kestrel::%s(): Could not select View!\r\n", szWho);
        return ROI_INVALID;
    }
    return ROI_DONE;
}

std::int32_t Kestrel::SetROI(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwStart, std::uint32_t dwLength,
                             std::int32_t nView, std::int32_t* pnLocalErr, std::int32_t* pnStatus2) {
    TMutexAccess access(mutex);
    char szCmd[32];
    std::int32_t nResult =
        RoiExchange("SetROI", "SET_ROI", nMcb, nDet, dwStart, dwLength, nView, pnLocalErr, pnStatus2, szCmd);
    if (nResult != ROI_DONE) return nResult;
    Exchange exchange = Run(nMcb, szCmd);
    if (!exchange.nResult) return exchange.nLocalErr;
    Store(pnLocalErr, pnStatus2, exchange.nLocalErr, exchange.nStatus2);
    return exchange.nLocalErr == 0 ? ROI_DONE : ROI_REFUSED;
}

std::int32_t Kestrel::ClearROI(std::int32_t nMcb, std::int32_t nDet, std::uint32_t dwStart, std::uint32_t dwLength,
                               std::int32_t nView, std::int32_t* pnLocalErr, std::int32_t* pnStatus2) {
    TMutexAccess access(mutex);
    char szWindow[32];
    std::int32_t nResult =
        RoiExchange("ClearROI", "SET_WIND", nMcb, nDet, dwStart, dwLength, nView, pnLocalErr, pnStatus2, szWindow);
    if (nResult != ROI_DONE) return nResult;
    for (const char* szCmd : {static_cast<const char*>(szWindow), "CLEAR_ROI"}) {
        Exchange exchange = Run(nMcb, szCmd);
        if (!exchange.nResult) {
            DebugTrace(0, "Kestrel::ClearROI(): mcb_dialog(%d, \"%s\") failed! LocalErr=%d\r\n", nMcb, szCmd,
                       exchange.nLocalErr);
            Store(pnLocalErr, pnStatus2, exchange.nLocalErr, 0);
            nResult = exchange.nLocalErr;
            break;
        }
        Store(pnLocalErr, pnStatus2, exchange.nLocalErr, exchange.nStatus2);
        if (exchange.nLocalErr != 0) {
            nResult = ROI_REFUSED;
            break;
        }
    }
    // The window command changed what the MCB has selected.
    Record(nMcb)->nCurDevSeg = -1;
    return nResult;
}

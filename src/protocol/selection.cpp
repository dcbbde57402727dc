#include "protocol/selection.h"

#include <cstdio>
#include <cstring>

#include "addin/shared_state.h"
#include "addin/trace.h"
#include "platform/platform.h"
#include "port/device_memory.h"
#include "protocol/dialog.h"

namespace {

constexpr std::uint32_t VIEW_TRUST_MS = 4000;

// Sends a selection command; 1 when accepted, 0 otherwise (a refusal traced
// under the caller's name).
std::int32_t Select(const char* szWho, std::int32_t nMcb, const char* szFormat, std::int32_t nValue) {
    char szCmd[32];
    std::snprintf(szCmd, sizeof szCmd, szFormat, nValue);
    std::int32_t nLocalErr = 0;
    if (!mcb_dialog(nMcb, szCmd, static_cast<std::int32_t>(std::strlen(szCmd)), 0, nullptr,
                    nullptr, &nLocalErr, nullptr))
        return 0;
    if (nLocalErr != 0) {
        DebugTrace(0, "Kestrel::%s(): \"%s\" failed for MCB %d\r\n", szWho, szCmd, nMcb);
        return 0;
    }
    return 1;
}

}  // namespace

std::int32_t SetDevSeg(std::int32_t nMcb, std::int32_t nDevSeg, std::int32_t bMailboxSpace) {
    McbRecord& record = *RecordOf(*platform::os().Shared(), nMcb);
    std::int32_t nResult = 0;
    if (record.nCurDevSeg == nDevSeg) {
        nResult = 1;
    } else if (!record.bResponding) {
        // A silent MCB has only its first input to offer.
        if (nDevSeg == 1) {
            record.nCurDevSeg = 1;
            nResult = 1;
        }
    } else if (Select("SetDevSeg", nMcb, record.bDevices ? "SET_DEVI %d" : "SET_SEGM %d", nDevSeg)) {
        record.nCurDevSeg = nDevSeg;
        nResult = 1;
    }
    SelectUnit(nMcb, bMailboxSpace ? 1 : 0);
    return nResult;
}

std::int32_t SetView(std::int32_t nMcb, std::int32_t nDet, std::int32_t nView) {
    platform::Os& os = platform::os();
    McbRecord& record = *RecordOf(*os.Shared(), nMcb);
    if (record.nCurView == nView && os.TickCount() - record.dwViewTick < VIEW_TRUST_MS) return 1;
    if (record.dwFeatures[nDet - 1][2] & FEAT2_VIEWS) {
        if (!Select("SetView", nMcb, "SET_VIEW %d", nView)) return 0;
    } else if (nView != 0) {
        return 0;  // without views, view 0 is the only one
    }
    record.nCurView = nView;
    record.dwViewTick = os.TickCount();
    return 1;
}

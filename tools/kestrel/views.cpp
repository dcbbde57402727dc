#include "kestrel/views.h"

#include <vector>

#include "addin/shared_state.h"
#include "kestrel/tool_error.h"
#include "kestrel/reply_text.h"

namespace kestrel_tool {

void RequireViewFeature(Addin& addin, int mcb, int det, int view) {
    if (view == 0) return;
    std::vector<std::uint32_t> features = addin.Features(mcb, det);
    if (features.size() > 2 && (features[2] & FEAT2_VIEWS)) return;
    throw ToolError(kExitUsage, DetectorName(mcb, det) + " has no views (bit 29 of its feature "
                                    "word 2 is clear): only view 0, not view " +
                                    std::to_string(view));
}

std::string ViewFailure(int view) {
    return view == 0 ? std::string()
                     : "; selecting view " + std::to_string(view) +
                           " failed: the MCB refused it or did not answer";
}

}  // namespace kestrel_tool

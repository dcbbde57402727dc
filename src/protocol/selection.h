// Aiming an MCB at one detector input and view, cached in its shared record.
#pragma once

#include <cstdint>

// 1 when input n is selected; ends with the MCB selected for the driver in
// the mailbox space (space flag non-zero) or the data space.
std::int32_t SetDevSeg(std::int32_t nMcb, std::int32_t nDevSeg, std::int32_t bMailboxSpace);
// 1 when the view is selected.
std::int32_t SetView(std::int32_t nMcb, std::int32_t nDet, std::int32_t nView);

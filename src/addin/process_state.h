// Values each client process keeps for itself (never shared).
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct ProcessState {
    std::int32_t nProcessOpenCount = 0;   // this process's Open calls not yet closed
    std::int32_t nDebugLevel = 0;         // trace level, never negative
    std::intptr_t hPortDriver = platform::kInvalidHandle;
    std::uint32_t dwPlatformId = 0;       // 0 until the first start-up: not NT
    std::int32_t nLptPort = 0;
    std::int32_t nSelectedMcb = 9;        // unit the next driver request addresses
    std::int32_t bMailboxSpace = 0;       // its address space: mailbox (non-zero) or data
    bool bProbing = false;                // an on-demand probe runs in this process
};

// The one instance of this process.
ProcessState& Process();

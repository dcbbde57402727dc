// One complete command exchange with an MCB.
#pragma once

#include <cstdint>

// LocalErr values of a failed exchange.
constexpr std::int32_t LOCALERR_NO_MAILBOX = -1;
constexpr std::int32_t LOCALERR_TIMEOUT = -2;
constexpr std::int32_t LOCALERR_RETRIES = -3;

// 1 when a good status record ended the exchange (its first field in
// *pnLocalErr, 0 = accepted), 0 on failure (*pnLocalErr -1, -2 or -3).
std::int32_t mcb_dialog(std::int32_t nMcb, const char* szCmd, std::int32_t nCmdLen,
                        std::int32_t nRespSize, char* szResp, std::int32_t* pnRespLen,
                        std::int32_t* pnLocalErr, std::int32_t* pnStatus2);

// Waiting on the mailbox flags, with recovery by the zero-length command.
#pragma once

#include <cstdint>

// 1 when the MCB has taken the last command, 0 after both waiting phases.
std::int32_t flush_output(std::int32_t nType, std::int32_t nMcb);
// 1 when a message waits, -1 when none came but the MCB took the
// zero-length command (post again), 0 on failure.
std::int32_t wait_resp(std::int32_t nType, std::int32_t nMcb);
// Length at MCB$CMDLEN, the text, then the command-pending flag.
void post_command(std::int32_t nType, const char* szCmd, std::int32_t nCmdLen);

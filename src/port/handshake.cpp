#include "port/handshake.h"

#include "addin/trace.h"
#include "platform/platform.h"
#include "port/device_memory.h"
#include "port/mailbox_layout.h"

namespace {

// Unsigned differences keep the time-outs right across a tick-counter wrap.
std::uint32_t Elapsed(std::uint32_t dwSince) { return platform::os().TickCount() - dwSince; }

}  // namespace

void post_command(std::int32_t nType, const char* szCmd, std::int32_t nCmdLen) {
    WriteMailboxWord(nType, MCB_CMDLEN, nCmdLen & 0xFFFF);
    WriteMailboxBlock(nType, MCB_CMDTEXT, nCmdLen, szCmd);
    WriteMailboxByte(nType, MCB_OUTFLG, MCB_FLAG_FULL);
}

std::int32_t flush_output(std::int32_t nType, std::int32_t nMcb) {
    platform::Os& os = platform::os();
    SelectUnit(nMcb, 1);
    std::uint32_t dwStart = os.TickCount();
    std::uint32_t dwLastTrace = dwStart;
    bool bRecoveryUsed = false;
    for (;;) {
        if (Elapsed(dwLastTrace) > OUTPUT_TRACE_INTERVAL) {
            DebugTraceOn("Kestrel::flush_output() waited 100ms!\r\n");
            dwLastTrace = os.TickCount();
        }
        // A message left over from an earlier exchange is discarded.
        WriteMailboxByte(nType, MCB_INFLG, 0);
        if (Elapsed(dwStart) > MAILBOX_TIMEOUT) {
            if (bRecoveryUsed) {
                DebugTraceOn("Kestrel::flush_output() 2nd 10 sec timeout, MCB$OUTFLG=%d -- failure "
                             "(clearing MCB$OUTFLG)\r\n",
                             ReadMailboxByte(nType, MCB_OUTFLG));
                WriteMailboxByte(nType, MCB_OUTFLG, 0);
                return 0;
            }
            DebugTraceOn("Kestrel::flush_output() 10 sec timeout, MCB$OUTFLG=%d -- sending zero "
                         "length cmd\r\n",
                         ReadMailboxByte(nType, MCB_OUTFLG));
            post_command(nType, nullptr, 0);
            dwStart = os.TickCount();
            bRecoveryUsed = true;
        }
        os.SleepMs(1);
        if (ReadMailboxByte(nType, MCB_OUTFLG) != MCB_FLAG_FULL) {
            WriteMailboxByte(nType, MCB_INFLG, 0);
            return 1;
        }
    }
}

std::int32_t wait_resp(std::int32_t nType, std::int32_t nMcb) {
    platform::Os& os = platform::os();
    SelectUnit(nMcb, 1);
    std::uint32_t dwStart = os.TickCount();
    std::uint32_t dwLastTrace = dwStart;
    for (;;) {
        if (Elapsed(dwLastTrace) > RESPONSE_TRACE_INTERVAL) {
            DebugTraceOn("wait_resp() waited 200ms!\r\n");
            dwLastTrace = os.TickCount();
        }
        if (Elapsed(dwStart) > MAILBOX_TIMEOUT) break;
        os.SleepMs(1);
        if (ReadMailboxByte(nType, MCB_INFLG) == MCB_FLAG_FULL) return 1;
    }

    DebugTraceOn("wait_resp() 10 sec timeout, MCB$INFLG=%d -- sending zero len cmd\r\n",
                 ReadMailboxByte(nType, MCB_INFLG));
    WriteMailboxWord(nType, MCB_CMDLEN, 0);
    WriteMailboxByte(nType, MCB_OUTFLG, MCB_FLAG_FULL);
    WriteMailboxByte(nType, MCB_INFLG, 0);
    dwStart = os.TickCount();
    // No pause here: the MCB is known to be slow already, and each poll is a
    // driver request anyway.
    for (;;) {
        if (Elapsed(dwStart) > MAILBOX_TIMEOUT) {
            DebugTraceOn("wait_resp() 10 sec timeout waiting for outflg to clear, MCB$OUTFLG=%d -- "
                         "failure (clearing MCB$OUTFLG)\r\n",
                         ReadMailboxByte(nType, MCB_OUTFLG));
            WriteMailboxByte(nType, MCB_OUTFLG, 0);
            return 0;
        }
        std::int32_t nOutFlag = ReadMailboxByte(nType, MCB_OUTFLG);
        WriteMailboxByte(nType, MCB_INFLG, 0);
        if (nOutFlag != MCB_FLAG_FULL) {
            DebugTraceOn("wait_resp() zero len cmd success -- returning -1 (try again)\r\n");
            return -1;
        }
    }
}

#include "protocol/dialog.h"

#include "addin/shared_state.h"
#include "addin/trace.h"
#include "platform/platform.h"
#include "port/device_memory.h"
#include "port/handshake.h"
#include "port/mailbox_layout.h"
#include "protocol/status_record.h"

namespace {

constexpr std::int32_t MAX_ATTEMPT_FAILURES = 3;
constexpr std::int32_t MAX_STATUS_MESSAGES = 10;
constexpr std::int32_t STATUS_BUFFER = 16;

struct Outputs {
    std::int32_t nRespSize;
    char* szResp;
    std::int32_t* pnRespLen;
    std::int32_t* pnLocalErr;
    std::int32_t* pnStatus2;

    std::int32_t Fail(std::int32_t nLocalErr) const { return Finish(0, nLocalErr, 0); }

    std::int32_t Finish(std::int32_t nResult, std::int32_t nLocalErr, std::int32_t nStatus2) const {
        if (pnLocalErr) *pnLocalErr = nLocalErr;
        if (pnStatus2) *pnStatus2 = nStatus2;
        return nResult;
    }

    void EmptyResponse() const {
        if (pnRespLen) *pnRespLen = 0;
        if (nRespSize > 0) szResp[0] = '\0';
    }
};

std::int32_t MessageLength(std::int32_t nType) {
    return static_cast<std::int16_t>(ReadMailboxWord(nType, MCB_MSGLEN));
}

}  // namespace

std::int32_t mcb_dialog(std::int32_t nMcb, const char* szCmd, std::int32_t nCmdLen,
                        std::int32_t nRespSize, char* szResp, std::int32_t* pnRespLen,
                        std::int32_t* pnLocalErr, std::int32_t* pnStatus2) {
    const Outputs out{nRespSize, szResp, pnRespLen, pnLocalErr, pnStatus2};
    const McbRecord* pRecord = RecordOf(*platform::os().Shared(), nMcb);
    const std::int32_t nType = pRecord ? pRecord->nMailboxType : 0;
    if (nType != 4 && nType != 5) {
        DebugTrace(0, "Kestrel::mcb_dialog(nMcb=%d) No Mailbox or hardware not open!\r\n", nMcb);
        out.EmptyResponse();
        return out.Fail(LOCALERR_NO_MAILBOX);
    }
    // The text area ends where MCB$INFLG begins: a longer command would
    // overwrite the message flag, so it is refused before the mailbox is
    // touched.
    if (nCmdLen < 0 || nCmdLen > MCB_CMDMAX) {
        DebugTrace(0, "Kestrel::mcb_dialog(nMcb=%d) Command of %d bytes does not fit the mailbox!\r\n",
                   nMcb, nCmdLen);
        out.EmptyResponse();
        return out.Fail(LOCALERR_NO_MAILBOX);
    }

    SelectUnit(nMcb, 1);
    if (!flush_output(nType, nMcb)) {
        DebugTraceOn("mcb_dialog() Timeout flushing output!\r\n");
        out.EmptyResponse();
        return out.Fail(LOCALERR_TIMEOUT);
    }
    post_command(nType, szCmd, nCmdLen);

    std::int32_t nFailures = 0;
    for (;;) {
        if (nCmdLen == 0) {
            // The zero-length command has no answer: taken is done.
            out.EmptyResponse();
            if (!flush_output(nType, nMcb)) {
                DebugTraceOn("mcb_dialog(zero len cmd) Timeout flushing output again!\r\n");
                return out.Fail(LOCALERR_TIMEOUT);
            }
            return out.Finish(1, 0, 0);
        }

        bool bAttemptFailed = false;
        if (nRespSize > 0) {
            std::int32_t nWait = wait_resp(nType, nMcb);
            if (nWait == 0) {
                DebugTraceOn("mcb_dialog() Timeout waiting for resp!\r\n");
                out.EmptyResponse();
                return out.Fail(LOCALERR_TIMEOUT);
            }
            if (nWait < 0) {
                ++nFailures;
                DebugTraceOn("mcb_dialog() Comm err waiting for resp.\r\n");
                bAttemptFailed = true;
            } else {
                std::int32_t nLength = MessageLength(nType);
                if (nLength >= STATUS_RECORD_MIN && nLength <= STATUS_RECORD_MAX &&
                    ReadMailboxByte(nType, MCB_MSGTEXT) == '%') {
                    char status[STATUS_BUFFER];
                    ReadMailboxBlock(nType, MCB_MSGTEXT, nLength, status);
                    WriteMailboxByte(nType, MCB_INFLG, 0);
                    std::int32_t nLocalErr = 0, nStatus2 = 0;
                    if (ParseStatusRecord(status, &nLocalErr, &nStatus2)) {
                        out.EmptyResponse();
                        DebugTrace(3, "Kestrel::mcb_dialog() found good %% instead of resp!\r\n");
                        return out.Finish(1, nLocalErr, nStatus2);
                    }
                    ++nFailures;
                    DebugTraceOn("mcb_dialog() found bad %% instead of resp.\r\n");
                    bAttemptFailed = true;
                } else {
                    // A negative length is taken as an empty response rather
                    // than as a size to read.
                    std::int32_t nStored = nLength < 0 ? 0 : nLength;
                    if (nStored > nRespSize - 1) nStored = nRespSize - 1;
                    if (pnRespLen) *pnRespLen = nStored;
                    ReadMailboxBlock(nType, MCB_MSGTEXT, nStored, szResp);
                    szResp[nStored] = '\0';
                    WriteMailboxByte(nType, MCB_INFLG, 0);
                }
            }
        }

        if (!bAttemptFailed) {
            for (std::int32_t nMessages = 1;; ++nMessages) {
                if (wait_resp(nType, nMcb) != 1) {
                    DebugTraceOn("mcb_dialog() Timeout waiting for %%!\r\n");
                    out.EmptyResponse();
                    return out.Fail(LOCALERR_TIMEOUT);
                }
                std::int32_t nLength = MessageLength(nType);
                if (nLength > STATUS_BUFFER) nLength = STATUS_BUFFER;
                char status[STATUS_BUFFER];
                if (nLength > 0) ReadMailboxBlock(nType, MCB_MSGTEXT, nLength, status);
                WriteMailboxByte(nType, MCB_INFLG, 0);
                if (nLength > 0 && IsStatusRecord(nLength, status[0])) {
                    std::int32_t nLocalErr = 0, nStatus2 = 0;
                    if (ParseStatusRecord(status, &nLocalErr, &nStatus2))
                        return out.Finish(1, nLocalErr, nStatus2);
                    ++nFailures;
                    DebugTraceOn("mcb_dialog() found bad %%.\r\n");
                }
                if (nMessages == MAX_STATUS_MESSAGES) {
                    WriteMailboxByte(nType, MCB_OUTFLG, 0);
                    WriteMailboxByte(nType, MCB_INFLG, 0);
                    ++nFailures;
                    break;
                }
            }
        }

        if (nFailures >= MAX_ATTEMPT_FAILURES) {
            WriteMailboxByte(nType, MCB_OUTFLG, 0);
            DebugTraceOn("mcb_dialog() Failure after 2 retries!\r\n");
            out.EmptyResponse();
            return out.Fail(LOCALERR_RETRIES);
        }
        post_command(nType, szCmd, nCmdLen);
    }
}

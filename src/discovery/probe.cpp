#include "discovery/probe.h"

#include <cstdlib>
#include <cstring>

#include "addin/numbers.h"
#include "addin/shared_state.h"
#include "addin/trace.h"
#include "host/guess.h"
#include "platform/platform.h"
#include "port/device_memory.h"
#include "protocol/dialog.h"
#include "protocol/selection.h"

namespace {

constexpr const char* UNKNOWN_VERSION = "0000-000";
constexpr std::uint16_t DEFAULT_CHANNELS = 16384;
constexpr std::int32_t FOUR_DEVICES = 4;
constexpr std::int32_t MAX_REPORTED_DETECTORS = 32;

// One query; the response length, or -1 when the exchange failed.
std::int32_t Query(std::int32_t nMcb, const char* szCmd, std::int32_t nRespSize, char* szResp) {
    std::int32_t nRespLen = 0;
    szResp[0] = '\0';
    if (!mcb_dialog(nMcb, szCmd, static_cast<std::int32_t>(std::strlen(szCmd)), nRespSize, szResp,
                    &nRespLen, nullptr, nullptr))
        return -1;
    return nRespLen;
}

void SetVersion(McbRecord& record, const char* szVersion) {
    std::memset(record.szVersion, 0, sizeof record.szVersion);
    // memset has already terminated it: copy at most VERSION_CHARS characters.
    std::memcpy(record.szVersion, szVersion, strnlen(szVersion, VERSION_CHARS));
}

// Unsigned decimals after the first blank or tab; a missing number reads as
// 0 and leaves the position where it was.
void ReadNumbers(const char* szText, std::uint32_t* pdwOut, int nCount) {
    const char* p = std::strpbrk(szText, " \t");
    for (int i = 0; i < nCount; ++i) {
        pdwOut[i] = StrToU32(p, &p);
    }
}

bool HasBlank(const char* szText) { return std::strpbrk(szText, " \t") != nullptr; }

bool FeatureReplyOk(std::int32_t nLen, const char* szResp) {
    return nLen > 10 && std::strncmp(szResp, "FEAT", 4) == 0 && HasBlank(szResp);
}

bool MaskReplyOk(std::int32_t nLen, const char* szResp) {
    return nLen > 12 && std::strncmp(szResp, "CO", 2) == 0 && std::strncmp(szResp + 5, "MAS", 3) == 0 &&
           HasBlank(szResp);
}

// A decimal field at a fixed place, read on its own.
long FixedField(char* szResp, int nFirst, int nLast) {
    szResp[nLast + 1] = '\0';
    return std::atol(szResp + nFirst);
}

void Identify(std::int32_t nMcb, McbRecord& record, char* szResp) {
    std::int32_t nLen = -1;
    if (!mcb_dialog(nMcb, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr) ||
        (nLen = Query(nMcb, "SHOW_VERS", 16, szResp)) < 0) {
        record.nMailboxType = -1;
        record.bResponding = 0;
        record.bDevices = 0;
        SetVersion(record, UNKNOWN_VERSION);
        return;
    }
    record.bResponding = 1;
    if (nLen >= 10 && nLen <= 12 && szResp[0] == '$' && szResp[1] == 'F') {
        szResp[10] = '\0';
        SetVersion(record, szResp + 2);
        record.bDevices = std::strncmp(szResp + 3, "474", 3) == 0 ? 1 : 0;
    } else {
        record.bDevices = 0;
        SetVersion(record, UNKNOWN_VERSION);
    }
}

void Configure(std::int32_t nMcb, McbRecord& record, char* szResp) {
    // Found out first and written after the query: a process killed during
    // it must not leave the defaults in a record that others go on using.
    std::uint16_t wTotal = DEFAULT_CHANNELS;
    std::uint16_t wPerInput = DEFAULT_CHANNELS;
    std::int32_t nDetectors = FOUR_DEVICES;
    std::int32_t nInputEntries = FOUR_DEVICES;  // entries of wChannels set to wPerInput
    if (!record.bDevices) {
        nDetectors = 1;
        nInputEntries = 1;
        std::int32_t nLen = Query(nMcb, "SHOW_CONF", 100, szResp);
        if (nLen >= 95 && nLen <= 97 && szResp[0] == '$' && szResp[1] == 'J') {
            long nCount = FixedField(szResp, 7, 11);
            long nTotal = FixedField(szResp, 2, 6);
            // A record holds 16 detectors and detector numbers above 16 are
            // never valid, so a larger count is limited to 16: the count and
            // the start-up total describe the detectors the add-in can
            // serve. The MCB still divides its memory among all the inputs
            // it reported, so the segment length comes from that count, or
            // every segment after the first would be addressed wrongly.
            std::int32_t nReported = 1;
            if (nCount >= 1 && nCount <= MAX_REPORTED_DETECTORS) nReported = static_cast<std::int32_t>(nCount);
            nDetectors = nReported > MAX_DETECTORS ? MAX_DETECTORS : nReported;
            nInputEntries = nDetectors;
            std::uint16_t wReportedTotal = static_cast<std::uint16_t>(nTotal);
            wTotal = wReportedTotal >= 256 ? wReportedTotal : DEFAULT_CHANNELS;
            wPerInput = static_cast<std::uint16_t>(wTotal / nReported);
        }
    }
    record.wTotalChannels = wTotal;
    for (std::int32_t i = 0; i < nInputEntries; ++i) record.wChannels[i] = wPerInput;
    record.nDetectors = nDetectors;
    record.nCurDevSeg = -1;
    record.nCurView = -1;
    DebugTrace(1, "MCB %d has %u dets, %u total channels and %u chans per dev/seg\r\n", nMcb,
               static_cast<unsigned>(record.nDetectors), static_cast<unsigned>(record.wTotalChannels),
               static_cast<unsigned>(record.wChannels[0]));
}

// The feature words and masks of one detector, into the given buffers
// (which hold the record's current values on entry).
void AskFeatures(std::int32_t nMcb, const McbRecord& record, std::int32_t nDet, char* szResp,
                 std::uint32_t* pdwWords, std::uint32_t* pdwDataMask, std::uint32_t* pdwAuxMask) {
    HostGuessFeatures()(record.szVersion, nDet, pdwWords, FEATURE_WORDS);
    HostGuessMasks()(record.szVersion, nDet, pdwDataMask, pdwAuxMask);
    if (!record.bResponding || !SetDevSeg(nMcb, nDet, 1)) return;

    std::int32_t nLen = Query(nMcb, "SHOW_FEAT", 128, szResp);
    if (!FeatureReplyOk(nLen, szResp)) return;
    ReadNumbers(szResp, pdwWords, 4);
    if (pdwWords[3] & FEAT3_EXTENDED) {
        nLen = Query(nMcb, "SHOW_FEAT_EXTE", 128, szResp);
        if (FeatureReplyOk(nLen, szResp)) ReadNumbers(szResp, pdwWords + 4, 4);
    }
    nLen = Query(nMcb, "SHOW_CONF_MASK", 128, szResp);
    if (MaskReplyOk(nLen, szResp)) {
        std::uint32_t masks[2];
        ReadNumbers(szResp, masks, 2);
        *pdwDataMask = masks[0];
        *pdwAuxMask = masks[1];
    }
}

void QueryFeatures(std::int32_t nMcb, McbRecord& record, std::int32_t nDet, char* szResp) {
    // Gathered aside and written once the exchanges are over, as in
    // Configure: a killed prober must not leave the guessed words (which
    // say, for one, that values live in the INI file) in the record.
    const std::int32_t i = nDet - 1;
    std::uint32_t words[FEATURE_WORDS];
    std::memcpy(words, record.dwFeatures[i], sizeof words);
    std::uint32_t dwDataMask = record.dwDataMask[i], dwAuxMask = record.dwAuxMask[i];
    AskFeatures(nMcb, record, nDet, szResp, words, &dwDataMask, &dwAuxMask);
    std::memcpy(record.dwFeatures[i], words, sizeof words);
    record.dwDataMask[i] = dwDataMask;
    record.dwAuxMask[i] = dwAuxMask;
}

}  // namespace

void ProbeMcb(std::int32_t nMcb) {
    platform::Os& os = platform::os();
    McbRecord& record = *RecordOf(*os.Shared(), nMcb);
    record.nMailboxType = DetectMailboxType(nMcb);
    record.dwProbeTick = os.TickCount();
    if (record.nMailboxType == -1) {
        record.bResponding = 0;
        record.nDetectors = 0;
        record.bDevices = 0;
        record.wTotalChannels = 0;
        record.wChannels[0] = 0;
        SetVersion(record, UNKNOWN_VERSION);
        return;
    }

    char szResp[128];
    Identify(nMcb, record, szResp);
    Configure(nMcb, record, szResp);

    for (std::int32_t nDet = 1; nDet <= record.nDetectors && nDet <= MAX_DETECTORS; ++nDet) {
        if (nDet > 1 && !(record.dwFeatures[0][1] & FEAT1_DETS_DIFFER)) {
            // Alike detectors: detector 1's final words and masks serve all.
            std::memcpy(record.dwFeatures[nDet - 1], record.dwFeatures[0], sizeof record.dwFeatures[0]);
            record.dwDataMask[nDet - 1] = record.dwDataMask[0];
            record.dwAuxMask[nDet - 1] = record.dwAuxMask[0];
            continue;
        }
        QueryFeatures(nMcb, record, nDet, szResp);
    }
}

// Reading and writing spectrum channels directly in MCB data memory.
#include "addin/kestrel.h"
#include "addin/trace.h"
#include "common/le32.h"
#include "port/device_memory.h"
#include "protocol/selection.h"

std::int64_t Kestrel::ChannelAddress(const char* szWho, const McbRecord& record, std::int32_t nDet,
                                     std::uint32_t dwStart, std::int32_t nCount) {
    // A run past the detector's channels would reach the next segment's
    // spectrum (or memory beyond): refused rather than cut, so the caller
    // never takes another detector's counts for its own.
    std::uint64_t qwEnd = static_cast<std::uint64_t>(dwStart) + static_cast<std::uint64_t>(nCount);
    if (qwEnd > record.wChannels[nDet - 1]) {
        DebugTrace(0, "Kestrel::%s(): channels %u to %llu are outside the %u channels of detector %d!\r\n",
                   szWho, static_cast<unsigned>(dwStart), static_cast<unsigned long long>(qwEnd - 1),
                   static_cast<unsigned>(record.wChannels[nDet - 1]), nDet);
        return -1;
    }
    std::uint64_t qwBase = record.bDevices ? 0 : static_cast<std::uint64_t>(record.wChannels[0]) * (nDet - 1);
    return static_cast<std::int64_t>(qwBase + dwStart);
}

// The channel word address of a transfer of nCount words from dwStart (0
// for none), with the detector's device segment selected; -1 when there is
// no buffer for the words, the run leaves the detector's channels, or the
// segment cannot be selected (with a trace for the last two).
std::int64_t Kestrel::TransferAddress(const char* szWho, std::int32_t nMcb, std::int32_t nDet,
                                      const McbRecord& record, std::uint32_t dwStart, std::int32_t nCount,
                                      const void* pBuffer) {
    std::int64_t qwAddress = 0;
    if (nCount > 0 && (!pBuffer || (qwAddress = ChannelAddress(szWho, record, nDet, dwStart, nCount)) < 0)) return -1;
    if (!SetDevSeg(nMcb, nDet, 0)) {
        DebugTrace(0, "Kestrel::%s(): Could not select DevSeg!\r\n", szWho);
        return -1;
    }
    return qwAddress;
}

std::int32_t Kestrel::GetData(std::int32_t nMcb, std::int32_t nDet, std::uint32_t* pdwDataMask,
                              std::uint32_t* pdwAuxMask, std::uint32_t, std::uint32_t dwStart, std::int32_t nCount,
                              std::int32_t nView, std::uint32_t* pdwBuffer) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return -1;
    if (pdwDataMask) *pdwDataMask = pRecord->dwDataMask[nDet - 1];
    if (pdwAuxMask) *pdwAuxMask = pRecord->dwAuxMask[nDet - 1];
    // No buffer for the words asked for: refused before the unit is touched.
    const std::int64_t qwAddress = TransferAddress("GetData", nMcb, nDet, *pRecord, dwStart, nCount, pdwBuffer);
    if (qwAddress < 0) return -1;
    if (!SetView(nMcb, nDet, nView)) {
        DebugTrace(0, "Kestrel::GetData(): Could not select View!\r\n");
        return -1;
    }
    if (nCount <= 0) return 1;
    // A view command leaves the mailbox space selected; the words are in
    // the data space.
    SelectUnit(nMcb, 0);
    ReadDeviceMemory(static_cast<std::uint32_t>(qwAddress * 4), nCount * 4, pdwBuffer);
    return 1;
}

std::int32_t Kestrel::SetData(std::int32_t nMcb, std::int32_t nDet, std::uint32_t, std::uint32_t dwStart,
                              std::int32_t nCount, std::uint32_t, const std::uint32_t* pdwValues) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return -1;
    // No values to write: refused before any word is read or changed.
    const std::int64_t qwAddress = TransferAddress("SetData", nMcb, nDet, *pRecord, dwStart, nCount, pdwValues);
    if (qwAddress < 0) return -1;
    const std::uint32_t dwMask = pRecord->dwDataMask[nDet - 1];
    for (std::int32_t i = 0; i < nCount; ++i) {
        // Bits outside the data mask belong to the MCB and are kept.
        std::uint32_t dwAddress = static_cast<std::uint32_t>((qwAddress + i) * 4);
        unsigned char word[4] = {0, 0, 0, 0};
        ReadDeviceMemory(dwAddress, 4, word);
        PutLE32(word, (GetLE32(word) & ~dwMask) | (pdwValues[i] & dwMask));
        WriteDeviceMemory(dwAddress, 4, word);
    }
    return 1;
}

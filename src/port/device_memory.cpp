#include "port/device_memory.h"

#include <cstring>

#include "addin/process_state.h"
#include "common/le32.h"
#include "platform/platform.h"

namespace {

// What every request of one transfer shares, looked up once: mailbox bytes
// go one request each, so this is the hot path of every exchange.
struct Link {
    platform::Os& os;
    std::intptr_t hDriver;
    std::uint32_t dwUnit;
    bool bNt;
};

Link CurrentLink() {
    const ProcessState& process = Process();
    return {platform::os(), process.hPortDriver, UnitByte(), process.dwPlatformId == platform::kPlatformNt};
}

void Ioctl(const Link& link, std::uint32_t dwCode, const void* pIn, std::uint32_t dwInLen, void* pOut,
           std::uint32_t dwOutLen) {
    std::uint32_t dwReturned = 0;
    // The driver's answer is not examined: dead hardware shows up as a
    // failed mailbox-type test or a mailbox time-out further up.
    link.os.DriverIoctl(link.hDriver, dwCode, pIn, dwInLen, pOut, dwOutLen, &dwReturned);
}

void NtSetAddress(const Link& link, std::uint32_t dwAddress, std::int32_t nLength) {
    unsigned char request[16];
    PutLE32(request, 0);
    PutLE32(request + 4, link.dwUnit);
    PutLE32(request + 8, dwAddress);
    PutLE32(request + 12, static_cast<std::uint32_t>(nLength));
    Ioctl(link, NT_SET_ADDRESS, request, sizeof request, nullptr, 0);
}

}  // namespace

void SelectUnit(std::int32_t nMcb, std::int32_t bMailboxSpace) {
    Process().nSelectedMcb = nMcb;
    Process().bMailboxSpace = bMailboxSpace;
}

std::uint32_t UnitByte() {
    const ProcessState& process = Process();
    return (process.bMailboxSpace ? 8u : 0u) |
           (static_cast<std::uint32_t>(process.nSelectedMcb - 1) & 7u);
}

void ReadDeviceMemory(std::uint32_t dwAddress, std::int32_t nLength, void* pBuffer) {
    // A negative length would reach the driver as a size near 4 GB; no caller
    // means one, so nothing is sent. Length 0 still goes out as usual.
    if (nLength < 0) return;
    const Link link = CurrentLink();
    if (link.bNt) {
        NtSetAddress(link, dwAddress, nLength);
        Ioctl(link, NT_READ, nullptr, 0, pBuffer, static_cast<std::uint32_t>(nLength));
        return;
    }
    auto* pCursor = static_cast<unsigned char*>(pBuffer);
    std::int32_t nRemaining = nLength;
    while (nRemaining > 0) {
        std::int32_t nChunk = nRemaining >= W95_CHUNK ? W95_CHUNK : nRemaining;
        unsigned char request[12];
        PutLE32(request, link.dwUnit);
        PutLE32(request + 4, dwAddress);
        PutLE32(request + 8, static_cast<std::uint32_t>(nChunk));
        // The output size is what is still to be read from this chunk on.
        Ioctl(link, W95_READ, request, sizeof request, pCursor, static_cast<std::uint32_t>(nRemaining));
        nRemaining -= nChunk;
        dwAddress += static_cast<std::uint32_t>(nChunk);
        pCursor += nChunk;
    }
}

void WriteDeviceMemory(std::uint32_t dwAddress, std::int32_t nLength, const void* pData) {
    if (nLength < 0) return;  // as for reads
    const Link link = CurrentLink();
    if (link.bNt) {
        NtSetAddress(link, dwAddress, nLength);
        Ioctl(link, NT_WRITE, pData, static_cast<std::uint32_t>(nLength), nullptr, 0);
        return;
    }
    unsigned char request[20];
    PutLE32(request, link.dwUnit);
    PutLE32(request + 4, dwAddress);
    PutLE32(request + 8, static_cast<std::uint32_t>(nLength));
    PutLE32(request + 12, link.os.FlatAddress(pData));
    PutLE32(request + 16, 0);
    Ioctl(link, W95_WRITE, request, sizeof request, nullptr, 0);
}

// Mailbox access one byte per driver request, as the MCB's mailbox memory
// is only reachable byte by byte at its spacing.
#include "port/device_memory.h"

std::uint32_t MailboxAddress(std::int32_t nType, std::int32_t nOffset) {
    std::uint32_t dwOffset = static_cast<std::uint32_t>(nOffset);
    return nType == 5 ? 2 * dwOffset : 4 * dwOffset + 3;
}

std::int32_t ReadMailboxByte(std::int32_t nType, std::int32_t nOffset) {
    // A failed request leaves the byte at zero.
    unsigned char byte = 0;
    ReadDeviceMemory(MailboxAddress(nType, nOffset), 1, &byte);
    return byte;
}

void WriteMailboxByte(std::int32_t nType, std::int32_t nOffset, std::int32_t nValue) {
    unsigned char byte = static_cast<unsigned char>(nValue);
    WriteDeviceMemory(MailboxAddress(nType, nOffset), 1, &byte);
}

void ReadMailboxBlock(std::int32_t nType, std::int32_t nFirst, std::int32_t nCount, void* pBuffer) {
    auto* pBytes = static_cast<unsigned char*>(pBuffer);
    for (std::int32_t i = 0; i < nCount; ++i)
        pBytes[i] = static_cast<unsigned char>(ReadMailboxByte(nType, nFirst + i));
}

void WriteMailboxBlock(std::int32_t nType, std::int32_t nFirst, std::int32_t nCount,
                       const void* pData) {
    const auto* pBytes = static_cast<const unsigned char*>(pData);
    for (std::int32_t i = 0; i < nCount; ++i) WriteMailboxByte(nType, nFirst + i, pBytes[i]);
}

std::int32_t ReadMailboxWord(std::int32_t nType, std::int32_t nOffset) {
    unsigned char bytes[2];
    ReadMailboxBlock(nType, nOffset, 2, bytes);
    return bytes[0] | (bytes[1] << 8);
}

void WriteMailboxWord(std::int32_t nType, std::int32_t nOffset, std::int32_t nValue) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(nValue),
                                    static_cast<unsigned char>(nValue >> 8)};
    WriteMailboxBlock(nType, nOffset, 2, bytes);
}

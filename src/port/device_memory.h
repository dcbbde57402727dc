// Reading and writing MCB memory through the printer-port driver.
#pragma once

#include <cstdint>

// Driver control codes.
constexpr std::uint32_t NT_SET_PORT = 0x9C402400;
constexpr std::uint32_t NT_SET_ADDRESS = 0x9C402404;
constexpr std::uint32_t NT_READ = 0x9C402443;
constexpr std::uint32_t NT_WRITE = 0x9C40240B;
constexpr std::uint32_t W95_SET_LPT = 1;
constexpr std::uint32_t W95_READ = 2;
constexpr std::uint32_t W95_WRITE = 3;
constexpr std::int32_t W95_CHUNK = 1024;

// Selects the MCB and its address space (non-zero: mailbox) for the
// driver requests that follow.
void SelectUnit(std::int32_t nMcb, std::int32_t bMailboxSpace);
// The unit byte of the current selection: space flag in bit 3, MCB index below.
std::uint32_t UnitByte();
void ReadDeviceMemory(std::uint32_t dwAddress, std::int32_t nLength, void* pBuffer);
void WriteDeviceMemory(std::uint32_t dwAddress, std::int32_t nLength, const void* pData);

// Mailbox offsets mapped by mailbox type: 5 spaces bytes by 2, anything
// else (type 4) by 4 from address 3.
std::uint32_t MailboxAddress(std::int32_t nType, std::int32_t nOffset);
std::int32_t ReadMailboxByte(std::int32_t nType, std::int32_t nOffset);
void WriteMailboxByte(std::int32_t nType, std::int32_t nOffset, std::int32_t nValue);
void ReadMailboxBlock(std::int32_t nType, std::int32_t nFirst, std::int32_t nCount, void* pBuffer);
void WriteMailboxBlock(std::int32_t nType, std::int32_t nFirst, std::int32_t nCount,
                       const void* pData);
// A 16-bit little-endian field, low byte at the lower offset.
std::int32_t ReadMailboxWord(std::int32_t nType, std::int32_t nOffset);
void WriteMailboxWord(std::int32_t nType, std::int32_t nOffset, std::int32_t nValue);

// 4 or 5 for the mailbox type of an MCB, -1 when none answers.
std::int32_t DetectMailboxType(std::int32_t nMcb);

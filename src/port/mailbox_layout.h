// Where things are in an MCB's mailbox, in mailbox offsets.
#pragma once

#include <cstdint>

constexpr std::int32_t MCB_OUTFLG = 0;     // 0xFF: a command waits for the MCB
constexpr std::int32_t MCB_SCRATCH1 = 1;   // used by the mailbox-type test
constexpr std::int32_t MCB_SCRATCH2 = 2;
constexpr std::int32_t MCB_CMDLEN = 14;    // 16-bit little-endian
constexpr std::int32_t MCB_CMDTEXT = 16;
constexpr std::int32_t MCB_CMDMAX = 480;   // text area ends before MCB$INFLG
constexpr std::int32_t MCB_INFLG = 496;    // 0xFF: a message waits for the add-in
constexpr std::int32_t MCB_MSGLEN = 510;   // 16-bit little-endian, signed
constexpr std::int32_t MCB_MSGTEXT = 512;
constexpr std::int32_t MCB_FLAG_FULL = 0xFF;

// Time limits of the handshake, in milliseconds.
constexpr std::uint32_t OUTPUT_TRACE_INTERVAL = 100;
constexpr std::uint32_t RESPONSE_TRACE_INTERVAL = 200;
constexpr std::uint32_t MAILBOX_TIMEOUT = 10000;

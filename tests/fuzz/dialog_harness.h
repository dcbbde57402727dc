// Drives one command exchange against a unit that posts arbitrary
// messages, and checks what the exchange may hand back. Shared by the
// libFuzzer target and the randomized test of the default run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Input layout: byte 0 picks the response buffer size, byte 1 the number
// of scripted exchanges; the rest is split at 0x00 bytes into messages and
// at 0x01 bytes into exchanges. Returns false when an output broke a rule
// (the fuzzer then aborts).
bool RunDialog(const std::uint8_t* data, std::size_t size);

// Parses an arbitrary 10-byte window as a status record.
bool RunStatusRecord(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz

// The %-status record that ends every exchange with an MCB:
// '%', first field (3), second field (3), checksum (3).
#pragma once

#include <cstdint>

constexpr std::int32_t STATUS_RECORD_MIN = 10;
constexpr std::int32_t STATUS_RECORD_MAX = 12;

// Stores both fields (where the pointers are not null) whenever the record
// begins with '%'; true when its checksum is right as well.
bool ParseStatusRecord(const char* szRecord, std::int32_t* pnLocalErr, std::int32_t* pnStatus2);
// Whether a message of this length and first byte is a status record.
bool IsStatusRecord(std::int32_t nLength, char cFirst);

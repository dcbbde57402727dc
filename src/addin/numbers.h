// Decimal conversions with the results of a 32-bit C library, whatever the
// width of long on the machine the add-in was built for.
#pragma once

#include <cstdint>

// As strtoul with base 10 and a 32-bit unsigned long: leading white space,
// an optional sign (a minus negates modulo 2^32), overflow gives
// 4294967295, no digits give 0 with *ppEnd at the start.
std::uint32_t StrToU32(const char* szText, const char** ppEnd = nullptr);
// As strtol with base 10 and a 32-bit long: saturates at the range ends.
std::int32_t StrToI32(const char* szText);

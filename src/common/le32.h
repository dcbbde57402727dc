// 32-bit little-endian fields, as every driver request, socket message and
// channel word carries them, whatever the byte order of the machine.
#pragma once

#include <cstdint>

inline void PutLE32(unsigned char* p, std::uint32_t dwValue) {
    p[0] = static_cast<unsigned char>(dwValue);
    p[1] = static_cast<unsigned char>(dwValue >> 8);
    p[2] = static_cast<unsigned char>(dwValue >> 16);
    p[3] = static_cast<unsigned char>(dwValue >> 24);
}

inline std::uint32_t GetLE32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

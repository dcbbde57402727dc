// Copying texts into callers' buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// At most size - 1 characters, always terminated; the length stored.
// Nothing is written for a size below 1 or a null buffer.
inline std::int32_t CopyText(char* szDest, const char* szSource, std::int32_t nSize) {
    if (!szDest || nSize < 1) return 0;
    std::size_t nLength = szSource ? std::strlen(szSource) : 0;
    if (nLength > static_cast<std::size_t>(nSize - 1)) nLength = static_cast<std::size_t>(nSize - 1);
    if (nLength) std::memcpy(szDest, szSource, nLength);
    szDest[nLength] = '\0';
    return static_cast<std::int32_t>(nLength);
}

#include "addin/numbers.h"

#include <cctype>
#include <limits>

namespace {

struct Parsed {
    bool bNegative = false;
    bool bOverflow = false;
    bool bDigits = false;
    std::uint64_t qwValue = 0;
    const char* pEnd = nullptr;
};

Parsed Parse(const char* szText, std::uint64_t qwLimit) {
    Parsed result;
    const char* p = szText;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '+' || *p == '-') result.bNegative = *p++ == '-';
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        result.bDigits = true;
        result.qwValue = result.qwValue * 10 + static_cast<std::uint64_t>(*p++ - '0');
        if (result.qwValue > qwLimit) {
            result.bOverflow = true;
            result.qwValue = qwLimit;
        }
    }
    result.pEnd = result.bDigits ? p : szText;
    return result;
}

}  // namespace

std::uint32_t StrToU32(const char* szText, const char** ppEnd) {
    Parsed parsed = Parse(szText, 0xFFFFFFFFull);
    if (ppEnd) *ppEnd = parsed.pEnd;
    if (parsed.bOverflow) return 0xFFFFFFFFu;
    std::uint32_t dwValue = static_cast<std::uint32_t>(parsed.qwValue);
    return parsed.bNegative ? 0u - dwValue : dwValue;
}

std::int32_t StrToI32(const char* szText) {
    Parsed parsed = Parse(szText, 0x80000000ull);
    if (parsed.bNegative) return parsed.qwValue >= 0x80000000ull
                                      ? std::numeric_limits<std::int32_t>::min()
                                      : -static_cast<std::int32_t>(parsed.qwValue);
    return parsed.qwValue > 0x7FFFFFFFull ? std::numeric_limits<std::int32_t>::max()
                                          : static_cast<std::int32_t>(parsed.qwValue);
}

#include "protocol/status_record.h"

#include <cstdlib>

namespace {

// One 3-character decimal field, converted on its own.
std::int32_t Field(const char* p) {
    char szField[4] = {p[0], p[1], p[2], '\0'};
    return static_cast<std::int32_t>(std::strtol(szField, nullptr, 10));
}

}  // namespace

bool ParseStatusRecord(const char* szRecord, std::int32_t* pnLocalErr, std::int32_t* pnStatus2) {
    if (szRecord[0] != '%') return false;
    std::int32_t nFirst = Field(szRecord + 1);
    std::int32_t nSecond = Field(szRecord + 4);
    std::int32_t nChecksum = Field(szRecord + 7);
    if (pnLocalErr) *pnLocalErr = nFirst;
    if (pnStatus2) *pnStatus2 = nSecond;
    std::int32_t nSum = 0;
    for (int i = 0; i < 7; ++i) nSum += static_cast<signed char>(szRecord[i]);
    return (nSum & 255) == nChecksum;
}

bool IsStatusRecord(std::int32_t nLength, char cFirst) {
    return nLength >= STATUS_RECORD_MIN && nLength <= STATUS_RECORD_MAX && cFirst == '%';
}

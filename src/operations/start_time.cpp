// When a detector's acquisition started, from the MCB's clock when it keeps
// one, else from the PC-side stamp.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "addin/local_addin.h"
#include "addin/trace.h"
#include "platform/platform.h"

namespace {

constexpr std::int32_t REPLY_SIZE = 18;
constexpr std::size_t REPLY_BUFFER = 20;
constexpr std::size_t REPLY_FIELDS_END = 11;  // "$N" and three 3-digit fields

int Field(const char* szReply, int nFirst) {
    char szField[4] = {szReply[nFirst], szReply[nFirst + 1], szReply[nFirst + 2], '\0'};
    return std::atoi(szField);
}

bool IsTimeReply(const char* szReply) { return std::strncmp(szReply, "$N", 2) == 0; }

// Seconds since 1970 of an MCB date and time reply, taken as local time;
// 0 when there is none.
std::uint32_t Convert(const char* szDate, const char* szTime) {
    // A reply too short for its three fields holds no time.
    if (std::strlen(szDate) < REPLY_FIELDS_END || std::strlen(szTime) < REPLY_FIELDS_END) return 0;
    std::tm tm{};
    tm.tm_mday = Field(szDate, 2);
    tm.tm_mon = Field(szDate, 5) - 1;
    int nYear = Field(szDate, 8);
    tm.tm_year = nYear < 80 ? nYear + 100 : nYear;
    tm.tm_hour = Field(szTime, 2);
    tm.tm_min = Field(szTime, 5);
    tm.tm_sec = Field(szTime, 8);
    tm.tm_isdst = -1;
    DebugTrace(1, "LocalGetStartTime(): Day %d, Month %d, Year %d, Hour %d, Min %d, Sec %d\r\n", tm.tm_mday,
               tm.tm_mon, tm.tm_year, tm.tm_hour, tm.tm_min, tm.tm_sec);
    if (tm.tm_mon < 0 || tm.tm_mday < 1) return 0;
    std::time_t t = std::mktime(&tm);
    // Times travel as 32-bit values: what a 32-bit signed time cannot hold
    // fails as mktime fails there.
    if (t == static_cast<std::time_t>(-1) || t < 0 || t > 0x7FFFFFFF) return 0;
    return static_cast<std::uint32_t>(t);
}

}  // namespace

std::uint32_t LocalAddin::LocalGetStartTime(std::int32_t nMcb, std::int32_t nDet, std::uint32_t* ptNow) {
    if (ptNow) *ptNow = 0;
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return 0;

    if (pRecord->dwFeatures[nDet - 1][0] & FEAT0_MCB_CLOCK) {
        static const char* const commands[4] = {"SHOW_DATE", "SHOW_DATE_STAR", "SHOW_TIME", "SHOW_TIME_STAR"};
        char replies[4][REPLY_BUFFER] = {};
        bool bAll = true;
        for (int i = 0; i < 4 && bAll; ++i)
            bAll = SendCommand(nMcb, nDet, commands[i], REPLY_SIZE, replies[i], nullptr, nullptr, nullptr);
        if (bAll) {
            const char* szDate = replies[0];
            const char* szStartDate = replies[1];
            const char* szTime = replies[2];
            const char* szStartTime = replies[3];
            DebugTrace(1, "LocalGetStartTime(): Date: \"%s\", Time:\"%s\"\r\n", szDate, szTime);
            if (ptNow) *ptNow = IsTimeReply(szDate) && IsTimeReply(szTime) ? Convert(szDate, szTime) : 0;
            DebugTrace(1, "LocalGetStartTime(): StartDate: \"%s\", StartTime:\"%s\"\r\n", szStartDate,
                       szStartTime);
            if (IsTimeReply(szStartDate) && IsTimeReply(szStartTime)) {
                std::uint32_t tStart = Convert(szStartDate, szStartTime);
                if (tStart != 0) return tStart;
            }
        }
    }
    if (ptNow) *ptNow = static_cast<std::uint32_t>(platform::os().TimeNow());
    return static_cast<std::uint32_t>(pRecord->tStartTime[nDet - 1]);
}

void LocalAddin::SetStartTime(std::int32_t nMcb, std::int32_t nDet, std::uint32_t) {
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return;
    std::uint32_t tNow = static_cast<std::uint32_t>(platform::os().TimeNow());
    pRecord->tStartTime[nDet - 1] = static_cast<std::int32_t>(tNow);
    char szStart[16];
    std::snprintf(szStart, sizeof szStart, "%lu", static_cast<unsigned long>(tNow));
    SetAppData(nMcb, nDet, "@START", szStart);
}

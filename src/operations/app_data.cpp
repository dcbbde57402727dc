// Named per-detector values, kept in the MCB or in the host's INI file.
#include <cstdio>
#include <cstring>

#include "addin/local_addin.h"
#include "addin/text.h"
#include "platform/platform.h"

namespace {

constexpr const char* INI_FILE = "HVNACC32.INI";
constexpr std::size_t SHOW_CMD_SIZE = 48;   // a name of at most 31 characters
constexpr std::size_t SET_CMD_SIZE = 176;   // name and value of at most 157
constexpr std::int32_t MCB_REPLY_SIZE = 131;

bool InMcb(const McbRecord& record, std::int32_t nDet) {
    return (record.dwFeatures[nDet - 1][0] & FEAT0_MCB_APPDATA) != 0;
}

// A quote or line end inside a name or value would end the quoted text
// early and garble the command the MCB parses.
bool Quotable(const char* szText) { return std::strpbrk(szText, "\"\r\n") == nullptr; }

// An INI file is lines of "key=value" under "[section]" headers: a line end
// in a name or value would write lines of its own (a section header there
// shadows another detector's values, its lock included), an "=" in a name
// would be read back as a shorter name, and a name opening with "[" or ";"
// would be read as a header or a comment.
bool IniWritable(const char* szName, const char* szValue) {
    if (std::strpbrk(szName, "\r\n=") || szName[0] == '[' || szName[0] == ';') return false;
    return !szValue || !std::strpbrk(szValue, "\r\n");
}

void SectionName(char* szSection, std::size_t nSize, std::int32_t nMcb, std::int32_t nDet) {
    std::snprintf(szSection, nSize, "M%01uS%02u", static_cast<unsigned>(nMcb), static_cast<unsigned>(nDet));
}

}  // namespace

std::int32_t LocalAddin::GetAppData(std::int32_t nMcb, std::int32_t nDet, const char* szName,
                                    const char* szDefault, char* szValue, std::int32_t nSize) {
    if (nSize < 1) return 0;
    TMutexAccess access(mutex);
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    // Without a name there is no value to look up (a null key would list
    // the whole section instead).
    if (!pRecord || !szName || !szValue) return 0;
    char szSection[16];
    SectionName(szSection, sizeof szSection, nMcb, nDet);
    if (!InMcb(*pRecord, nDet))
        return static_cast<std::int32_t>(platform::os().ProfileString(
            szSection, szName, szDefault, szValue, static_cast<std::uint32_t>(nSize), INI_FILE));

    char szCmd[SHOW_CMD_SIZE];
    // A name too long for the command, or one that cannot be quoted, is not
    // cut down to another name: it has no value, so the default answers.
    // Named-value operations never trace; the result tells the caller. A
    // null default answers as the empty text, as the profile call does.
    if (std::strlen(szName) + 17 > sizeof szCmd || !Quotable(szName)) return CopyText(szValue, szDefault, nSize);
    std::snprintf(szCmd, sizeof szCmd, "SHOW_DATA_APP \"%s\"", szName);
    char szReply[MCB_REPLY_SIZE];
    std::int32_t nLocalErr = 0, nStatus2 = 0;
    if (!SendCommand(nMcb, nDet, szCmd, sizeof szReply, szReply, nullptr, &nLocalErr, &nStatus2) ||
        nLocalErr != 0 || std::strncmp(szReply, "$F", 2) != 0)
        return CopyText(szValue, szDefault, nSize);
    std::int32_t nLength = CopyText(szValue, szReply + 2, nSize);
    while (nLength > 0 && (szValue[nLength - 1] == '\r' || szValue[nLength - 1] == '\n'))
        szValue[--nLength] = '\0';
    return nLength;
}

bool LocalAddin::SetAppData(std::int32_t nMcb, std::int32_t nDet, const char* szName,
                            const char* szValue) {
    TMutexAccess access(mutex);
    if (!szName) return false;
    McbRecord* pRecord = ValidRecord(nMcb, nDet);
    if (!pRecord) return false;
    char szSection[16];
    SectionName(szSection, sizeof szSection, nMcb, nDet);
    if (!InMcb(*pRecord, nDet))
        return IniWritable(szName, szValue) && platform::os().ProfileWrite(szSection, szName, szValue, INI_FILE);

    // The MCB has no way to remove a value, and a value cut to fit would be
    // stored as something the caller never wrote: both are refused.
    if (!szValue || std::strlen(szName) + std::strlen(szValue) + 19 > SET_CMD_SIZE ||
        !Quotable(szName) || !Quotable(szValue))
        return false;
    char szCmd[SET_CMD_SIZE];
    std::snprintf(szCmd, sizeof szCmd, "SET_DATA_APP \"%s\",\"%s\"", szName, szValue);
    std::int32_t nLocalErr = 0, nStatus2 = 0;
    return SendCommand(nMcb, nDet, szCmd, 0, nullptr, nullptr, &nLocalErr, &nStatus2) && nLocalErr == 0;
}

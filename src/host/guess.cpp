#include "host/guess.h"

#include <cstring>

#include "addin/shared_state.h"

namespace {

// FNV-1a over the version text: a stable fingerprint kept in the last
// feature word, so every version gets its own, repeatable defaults.
std::uint32_t Fingerprint(const char* szVersion) {
    std::uint32_t dwHash = 2166136261u;
    for (const char* p = szVersion; *p; ++p) {
        dwHash ^= static_cast<unsigned char>(*p);
        dwHash *= 16777619u;
    }
    return dwHash;
}

const char* KnownText(const char* szVersion) { return szVersion ? szVersion : "0000-000"; }

}  // namespace

std::int32_t DefaultGuessFeatures(const char* szVersion, std::int32_t nDet,
                                  std::uint32_t* pdwFeatures, std::int32_t nWords) {
    if (!pdwFeatures || nWords <= 0) return 0;
    const char* szText = KnownText(szVersion);
    for (std::int32_t i = 0; i < nWords; ++i) pdwFeatures[i] = 0;
    // Conservative: values in the INI file, PC-side start stamps, no views;
    // an MCB that can do more says so when asked for its features.
    if (nWords >= FEATURE_WORDS) pdwFeatures[FEATURE_WORDS - 1] = Fingerprint(szText);
    (void)nDet;
    return 1;
}

std::int32_t DefaultGuessMasks(const char* szVersion, std::int32_t nDet, std::uint32_t* pdwDataMask,
                               std::uint32_t* pdwAuxMask) {
    (void)szVersion;
    (void)nDet;
    // Counts in the low 31 bits, the region-of-interest flag in the top one.
    if (pdwDataMask) *pdwDataMask = 0x7FFFFFFF;
    if (pdwAuxMask) *pdwAuxMask = 0x80000000;
    return 1;
}

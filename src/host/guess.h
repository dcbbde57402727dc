// Default feature words and masks derived from an MCB's version text. The
// host library exports these; the add-in uses the host's when it has them
// and the built-in ones below otherwise.
#pragma once

#include <cstdint>

// The host's signatures (C linkage, default calling convention).
using LocalGuessFeaturesFn = std::int32_t (*)(const char* szVersion, std::int32_t nDet,
                                              std::uint32_t* pdwFeatures, std::int32_t nWords);
using LocalGuessMasksFn = std::int32_t (*)(const char* szVersion, std::int32_t nDet,
                                           std::uint32_t* pdwDataMask, std::uint32_t* pdwAuxMask);

// Built-in defaults: any version text (null counts as "0000-000"); fill
// every word asked for and both masks, the same way for the same text.
std::int32_t DefaultGuessFeatures(const char* szVersion, std::int32_t nDet,
                                  std::uint32_t* pdwFeatures, std::int32_t nWords);
std::int32_t DefaultGuessMasks(const char* szVersion, std::int32_t nDet, std::uint32_t* pdwDataMask,
                               std::uint32_t* pdwAuxMask);

// The host's function when the loading host exports it, else the default.
LocalGuessFeaturesFn HostGuessFeatures();
LocalGuessMasksFn HostGuessMasks();

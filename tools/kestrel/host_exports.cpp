// The host library's exports that the add-in looks up in the process that
// loaded it. This program stands in for the host, so it offers them, with
// the host's default behaviour.
#include <cstdint>
#include <type_traits>

#include "host/guess.h"

extern "C" {

__attribute__((visibility("default"))) std::int32_t LocalGuessFeatures(const char* version,
                                                                       std::int32_t det,
                                                                       std::uint32_t* features,
                                                                       std::int32_t words) {
    return DefaultGuessFeatures(version, det, features, words);
}

__attribute__((visibility("default"))) std::int32_t LocalGuessMasks(const char* version,
                                                                    std::int32_t det,
                                                                    std::uint32_t* dataMask,
                                                                    std::uint32_t* auxMask) {
    return DefaultGuessMasks(version, det, dataMask, auxMask);
}

}  // extern "C"

// The add-in calls them through the host's function types.
static_assert(std::is_same<decltype(&LocalGuessFeatures), LocalGuessFeaturesFn>::value);
static_assert(std::is_same<decltype(&LocalGuessMasks), LocalGuessMasksFn>::value);

// Finding the host library's functions in the process that loaded us.
#include "host/guess.h"
#include "platform/platform.h"

LocalGuessFeaturesFn HostGuessFeatures() {
    void* pFunction = platform::os().HostFunction("LocalGuessFeatures");
    return pFunction ? reinterpret_cast<LocalGuessFeaturesFn>(pFunction) : &DefaultGuessFeatures;
}

LocalGuessMasksFn HostGuessMasks() {
    void* pFunction = platform::os().HostFunction("LocalGuessMasks");
    return pFunction ? reinterpret_cast<LocalGuessMasksFn>(pFunction) : &DefaultGuessMasks;
}

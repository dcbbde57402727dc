// libFuzzer entry: arbitrary bytes through fuzz::RunProfile.
#include <cstdlib>

#include "fuzz/profile_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::RunProfile(data, size)) std::abort();
    return 0;
}

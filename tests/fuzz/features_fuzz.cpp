// libFuzzer entry: arbitrary bytes through fuzz::RunFeatures.
#include <cstdlib>

#include "fuzz/reply_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::RunFeatures(data, size)) std::abort();
    return 0;
}

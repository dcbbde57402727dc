// libFuzzer entry: arbitrary bytes through fuzz::RunConfiguration.
#include <cstdlib>

#include "fuzz/reply_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::RunConfiguration(data, size)) std::abort();
    return 0;
}

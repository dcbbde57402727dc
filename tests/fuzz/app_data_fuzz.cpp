// libFuzzer entry: arbitrary bytes through fuzz::RunAppData.
#include <cstdlib>

#include "fuzz/reply_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::RunAppData(data, size)) std::abort();
    return 0;
}

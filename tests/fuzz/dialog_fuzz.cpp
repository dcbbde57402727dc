// libFuzzer entry: arbitrary unit messages through one command exchange.
#include <cstdlib>

#include "fuzz/dialog_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::RunDialog(data, size) || !fuzz::RunStatusRecord(data, size)) std::abort();
    return 0;
}

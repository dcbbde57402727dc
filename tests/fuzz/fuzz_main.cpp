// The libFuzzer entry of every target: the build names the harness.
#include <cstdlib>
#include <cstring>

#include "fuzz/harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::Harness harness = [] {
        for (const auto& [name, run] : fuzz::Harnesses())
            if (name == KESTREL_FUZZ_TARGET) return run;
        std::abort();
    }();
    if (!harness(data, size)) std::abort();
    return 0;
}

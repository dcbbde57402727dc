// The fuzz harness on random inputs, so the default run (with the
// sanitizers) covers arbitrary unit messages too.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fuzz/dialog_harness.h"

namespace {

TEST(DialogRandom, ArbitraryMessagesNeverBreakTheOutputs) {
    std::mt19937 random(20261206);
    const char* fragments[] = {"%000000069", "%001000070", "$F1234-567", "%00000006", "%0000000690",
                               "%000000000", "FEAT 1 2 3 4", "$C00005000", ""};
    for (int i = 0; i < 300; ++i) {
        std::vector<std::uint8_t> input = {static_cast<std::uint8_t>(random()), 0};
        int pieces = static_cast<int>(random() % 14);
        for (int p = 0; p < pieces; ++p) {
            if (random() % 3 == 0) {
                int length = static_cast<int>(random() % 30);
                for (int c = 0; c < length; ++c) input.push_back(static_cast<std::uint8_t>(random() % 254 + 2));
            } else {
                for (const char* c = fragments[random() % 9]; *c; ++c) input.push_back(static_cast<std::uint8_t>(*c));
            }
            input.push_back(random() % 5 == 0 ? 0x01 : 0x00);
        }
        ASSERT_TRUE(fuzz::RunDialog(input.data(), input.size())) << "input " << i;
        ASSERT_TRUE(fuzz::RunStatusRecord(input.data() + 2, input.size() - 2));
    }
}

}  // namespace

// Every seed and every kept crash input of the fuzz targets through its
// harness, and mutations of the seeds, so that the default run checks the
// parsers of unit replies on hostile input too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/harness_registry.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kFuzzDir = fs::path(KESTREL_SOURCE_DIR) / "tests" / "fuzz";

std::vector<std::pair<std::string, Bytes>> Inputs(const fs::path& dir) {
    std::vector<std::pair<std::string, Bytes>> inputs;
    if (!fs::is_directory(dir)) return inputs;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        inputs.emplace_back(entry.path().filename().string(),
                            Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
    }
    return inputs;
}

// Seeds cut, spliced and with bytes changed, inserted or removed: inputs
// near the real replies, where the parsers decide.
Bytes Mutate(std::mt19937& random, const std::vector<std::pair<std::string, Bytes>>& seeds) {
    Bytes input = seeds[random() % seeds.size()].second;
    const int steps = 1 + static_cast<int>(random() % 4);
    for (int s = 0; s < steps; ++s) {
        const std::size_t at = input.empty() ? 0 : random() % (input.size() + 1);
        switch (random() % 6) {
            case 0:
                if (at < input.size()) input[at] = static_cast<std::uint8_t>(random());
                break;
            case 1:
                if (at < input.size()) input[at] = static_cast<std::uint8_t>('0' + random() % 10);
                break;
            case 2:
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(random()));
                break;
            case 3:
                if (at < input.size()) input.erase(input.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            case 4:
                input.resize(at);
                break;
            default: {
                const Bytes& other = seeds[random() % seeds.size()].second;
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), other.begin(), other.end());
            }
        }
    }
    return input;
}

TEST(FuzzCorpus, EveryHarnessHasSeeds) {
    ASSERT_GE(fuzz::Harnesses().size(), 8u);
    for (const auto& harness : fuzz::Harnesses())
        EXPECT_FALSE(Inputs(kFuzzDir / "corpus" / harness.name).empty()) << harness.name;
}

TEST(FuzzCorpus, SeedsAndKeptCrashInputsPass) {
    for (const auto& harness : fuzz::Harnesses()) {
        for (const char* folder : {"corpus", "regressions"}) {
            for (const auto& input : Inputs(kFuzzDir / folder / harness.name))
                EXPECT_TRUE(harness.run(input.second.data(), input.second.size()))
                    << folder << "/" << harness.name << "/" << input.first;
        }
    }
}

TEST(FuzzRandom, MutatedSeedsNeverBreakTheOutputs) {
    std::mt19937 random(20261206);
    for (const auto& harness : fuzz::Harnesses()) {
        const auto seeds = Inputs(kFuzzDir / "corpus" / harness.name);
        ASSERT_FALSE(seeds.empty()) << harness.name;
        for (int i = 0; i < 200; ++i) {
            const Bytes input = Mutate(random, seeds);
            ASSERT_TRUE(harness.run(input.data(), input.size()))
                << harness.name << " input " << i << ": " << std::string(input.begin(), input.end());
        }
    }
}

}  // namespace

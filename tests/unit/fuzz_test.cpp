// Every seed and kept crash input of the fuzz targets through its harness, and seeds cut and changed at
// random, so that the default run (with the sanitizers) meets hostile replies too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "fuzz/harnesses.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Inputs(const std::string& folder, const std::string& name) {
    std::vector<Bytes> inputs;
    const fs::path dir = fs::path(KESTREL_SOURCE_DIR) / "tests" / "fuzz" / folder / name;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::ifstream file(entry.path(), std::ios::binary);
            inputs.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
    return inputs;
}

TEST(FuzzCorpus, SeedsKeptInputsAndTheirMutationsKeepTheRules) {
    std::mt19937 random(20261206);
    for (const auto& [name, run] : fuzz::Harnesses()) {
        const std::vector<Bytes> seeds = Inputs("corpus", name);
        ASSERT_FALSE(seeds.empty()) << name;
        for (const auto& folder : {"corpus", "regressions"})
            for (const Bytes& input : Inputs(folder, name))
                EXPECT_TRUE(run(input.data(), input.size()))
                    << folder << "/" << name << ": " << std::string(input.begin(), input.end());
        for (int i = 0; i < 60; ++i) {
            Bytes input = seeds[random() % seeds.size()];
            for (int step = 0; step < 3; ++step) {
                const std::size_t at = random() % (input.size() + 1);
                if (random() % 2 && at < input.size()) input[at] = static_cast<std::uint8_t>(random());
                else if (random() % 2)
                    input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>('0' + random() % 10));
                else input.resize(at);
            }
            ASSERT_TRUE(run(input.data(), input.size())) << name << ": " << std::string(input.begin(), input.end());
        }
    }
}

}  // namespace

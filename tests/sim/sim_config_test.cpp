// The chain description file: what it builds and how it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/config.h"
#include "sim_test_support.h"

namespace {

const char* kExample = R"(# two units
[chain]
absent = echo
epoch = 1039009530

[unit 9]
type = 5
version = 0919-005
detectors = 2
channels = 2048
features = 0x00110000 0x2000
data_mask = 0x00FFFFFF
views = 2

[unit 9 detector 2]
features = 1 2 3 4 5
app.@DESC = Left arm, channel 2
acquiring = yes
start = 1039009000

[unit 12]
type = 4
version = 8474-001
report_total = 100
clock_offset = -60
)";

TEST(SimConfigTest, ExampleDescribesTheChain) {
    std::string error;
    auto config = sim::ParseChainConfig(kExample, &error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->absent, sim::AbsentBehaviour::EchoPort);
    EXPECT_EQ(config->epoch, 1039009530);
    ASSERT_EQ(config->units.size(), 2u);

    const sim::UnitConfig& u9 = config->units.at(9);
    EXPECT_EQ(u9.detectorCount(), 2);
    EXPECT_EQ(u9.channels, 2048u);
    ASSERT_EQ(u9.detector.size(), 2u);
    EXPECT_EQ(u9.detector[0].features[0], 0x00110000u);
    EXPECT_EQ(u9.detector[0].features[1], 0x2000u);
    EXPECT_EQ(u9.detector[0].dataMask, 0x00FFFFFFu);
    EXPECT_EQ(u9.detector[1].dataMask, 0x00FFFFFFu) << "unit keys are every input's defaults";
    EXPECT_EQ(u9.detector[1].views, 2);
    EXPECT_EQ(u9.detector[1].features[0], 1u) << "detector keys override";
    EXPECT_EQ(u9.detector[1].features[4], 5u);
    EXPECT_EQ(u9.detector[1].features[5], 0u);
    EXPECT_EQ(u9.detector[1].appData.at("@DESC"), "Left arm, channel 2");
    EXPECT_TRUE(u9.detector[1].acquiring);
    EXPECT_FALSE(u9.detector[0].acquiring);
    EXPECT_EQ(u9.detector[1].startStamp, 1039009000);

    const sim::UnitConfig& u12 = config->units.at(12);
    EXPECT_EQ(u12.mailboxType, 4);
    EXPECT_TRUE(u12.fourDevice());
    EXPECT_EQ(u12.detector.size(), 4u);
    EXPECT_EQ(u12.reportTotal, 100u);
    EXPECT_EQ(u12.clockOffset, -60);
    // A type-4 unit's mailbox lies over the top byte of its channel words.
    EXPECT_EQ(u12.detector[3].dataMask, 0x00FFFFFFu);
    EXPECT_EQ(u12.detector[3].auxMask, 0xFF000000u);
}

// The example in the README is a description the simulator takes, comments
// at the ends of lines included.
TEST(SimConfigTest, TheReadmeExampleIsAccepted) {
    std::ifstream readme(std::string(KESTREL_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(readme);
    std::string line, example;
    bool inside = false;
    while (std::getline(readme, line)) {
        if (line == "```ini") inside = true;
        else if (inside && line == "```") break;
        else if (inside) example += line + "\n";
    }
    ASSERT_FALSE(example.empty()) << "no ini example in the README";
    std::string error;
    auto config = sim::ParseChainConfig(example, &error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->absent, sim::AbsentBehaviour::FloatingBus);
    const sim::UnitConfig& u9 = config->units.at(9);
    EXPECT_EQ(u9.version, "0919-005");
    EXPECT_EQ(u9.detectorCount(), 2);
    EXPECT_EQ(u9.detector.at(1).appData.at("@DESC"), "Left arm");
    EXPECT_EQ(u9.detector.at(1).dataMask, 0x00FFFFFFu);
}

TEST(SimConfigTest, BuiltChainAnswersAsDescribed) {
    auto config = sim::ParseChainConfig(kExample, nullptr);
    ASSERT_TRUE(config);
    simtest::FakeClock clock;
    auto chain = sim::Chain::FromConfig(*config, clock.clock());
    sim::EmulatedDriver driver(*chain);
    simtest::MailboxClient mcb12(driver, clock, 12, 4);
    EXPECT_EQ(mcb12.exchange("SHOW_CONF")[0].substr(0, 12), "$J0010000004");
    EXPECT_EQ(chain->absentBehaviour, sim::AbsentBehaviour::EchoPort);
    EXPECT_EQ(chain->unit(10), nullptr);
    EXPECT_EQ(chain->unit(9)->state().detector(2).config.appData.at("@DESC"), "Left arm, channel 2");
}

TEST(SimConfigTest, WindowsLineEndsAndCommentsAreAccepted) {
    auto config = sim::ParseChainConfig("; chain\r\n[unit 16]  # last\r\nversion = 1234-567 ; note\r\n\r\n"
                                        "[unit 16 detector 1]\napp.tag = a#b;c\t# the value ends before\n",
                                        nullptr);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->units.at(16).version, "1234-567");
    EXPECT_EQ(config->units.at(16).detector.at(0).appData.at("tag"), "a#b;c");
}

TEST(SimConfigTest, DetectorSectionsMayComeBeforeTheirUnit) {
    std::string error;
    auto config = sim::ParseChainConfig("[unit 9 detector 2]\nviews = 3\n[unit 9]\ndetectors = 2\n", &error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->units.at(9).detector.at(1).views, 3);
}

struct BadCase {
    const char* text;
    const char* expected;  // part of the error message
};

TEST(SimConfigTest, InvalidDescriptionsNameTheLineAndTheProblem) {
    const BadCase cases[] = {
        {"[unit 8]\n", "line 1: unit number '8'"},
        {"[unit 9]\ntype = 6\n", "line 2: type must be 4 or 5"},
        {"[unit 9]\nversion = 123\n", "line 2: version must be 8 characters"},
        {"[unit 9]\ncolour = red\n", "line 2: unknown key 'colour'"},
        {"[unit 9]\ndata_mask = 0x1FFFFFFFF\n", "line 2: data_mask must be a 32-bit number"},
        {"[unit 9]\nchannels = 12ab\n", "line 2: channels must be 1 to 65536"},
        {"[unit 9]\n[unit 9]\n", "line 2: unit 9 is described twice"},
        {"\n\n[unit 9]\ndetectors = 2\n[unit 9 detector 3]\nviews = 2\n", "line 5: unit 9 has 2 inputs, no detector 3"},
        {"[unit 9 detector 1]\nacquiring = maybe\n", "line 2: acquiring must be yes or no"},
        {"[unit 9 detector 1]\nfeatures = 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17\n", "line 2: more than 16"},
        {"type = 5\n", "line 1: 'type' outside any section"},
        {"[unit 9\n", "line 1: section header without closing ']'"},
        {"[units]\n", "line 1: unknown section"},
        {"[chain]\nabsent = sometimes\n", "line 2: absent must be floating, echo or shared"},
        {"[unit 9]\njust words\n", "line 2: expected 'key = value'"},
        {"[unit 9]\ntype = 4\n[unit 9 detector 1]\ndata_mask = 0x7FFFFFFF\n",
         "unit 9 detector 1: a type-4 unit keeps its mailbox in the top byte"},
    };
    for (const BadCase& c : cases) {
        std::string error;
        EXPECT_FALSE(sim::ParseChainConfig(c.text, &error)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << "got: " << error;
    }
}

TEST(SimConfigTest, FilesAreReadAndMissingOnesReported) {
    std::string error;
    EXPECT_FALSE(sim::LoadChainConfig("/nonexistent/kestrel/chain.ini", &error));
    EXPECT_EQ(error, "/nonexistent/kestrel/chain.ini: cannot open the file");

    std::string path = testing::TempDir() + "kestrel_sim_config_test.ini";
    {
        std::ofstream file(path);
        file << "[unit 11]\nversion = 1111-111\n\n[unit 11 detector 1]\nviews = zero\n";
    }
    EXPECT_FALSE(sim::LoadChainConfig(path, &error));
    EXPECT_EQ(error, path + ": line 5: views must be 1 to 1000, not 'zero'");
    {
        std::ofstream file(path);
        file << "[unit 11]\nversion = 1111-111\n";
    }
    auto config = sim::LoadChainConfig(path, &error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->units.at(11).version, "1111-111");
    std::remove(path.c_str());

#ifndef _WIN32
    // A directory opens but cannot be read: not an empty description.
    EXPECT_FALSE(sim::LoadChainConfig(testing::TempDir(), &error));
    EXPECT_EQ(error, testing::TempDir() + ": cannot read the file");
#endif
}

}  // namespace

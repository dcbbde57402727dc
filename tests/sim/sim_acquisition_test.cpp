// Spectra that fill while a unit acquires, on the fake clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/demo.h"
#include "sim_test_support.h"

namespace {

using simtest::FakeClock;
using simtest::MailboxClient;

sim::UnitConfig OneInput(std::uint32_t dataMask) {
    sim::UnitConfig config;
    config.version = "1000-001";
    config.channels = 1024;
    config.detector.resize(1);
    config.detector[0].dataMask = dataMask;
    config.detector[0].auxMask = ~dataMask;
    return config;
}

std::vector<std::uint32_t> Spectrum(sim::Unit& unit, int det) {
    std::vector<std::uint32_t> words;
    for (std::uint32_t c = 0; c < unit.state().channels(); ++c) words.push_back(*unit.state().word(det, c));
    return words;
}

std::uint64_t Total(const std::vector<std::uint32_t>& words, std::uint32_t mask) {
    std::uint64_t sum = 0;
    for (std::uint32_t w : words) sum += w & mask;
    return sum;
}

TEST(SimAcquisitionTest, StartStopAndClearOfTheSelectedInput) {
    FakeClock clock;
    sim::Chain chain(clock.clock(), 0);
    sim::Unit& unit = *chain.addUnit(9, OneInput(0x7FFFFFFF));
    sim::EmulatedDriver driver(chain);
    MailboxClient mcb(driver, clock, 9, 5);

    clock.ms += 5000;
    chain.sync();
    EXPECT_EQ(Total(Spectrum(unit, 1), 0x7FFFFFFF), 0u) << "nothing counts before START";
    mcb.exchange("START");
    clock.ms += 10000;
    chain.sync();
    auto running = Spectrum(unit, 1);
    EXPECT_GT(Total(running, 0x7FFFFFFF), 10000u);
    mcb.exchange("STOP");
    clock.ms += 10000;
    chain.sync();
    EXPECT_EQ(Spectrum(unit, 1), running) << "stopped at STOP";

    *unit.state().word(1, 7) |= 0x80000000;
    mcb.exchange("CLEAR");
    EXPECT_EQ(Total(Spectrum(unit, 1), 0x7FFFFFFF), 0u);
    EXPECT_EQ(*unit.state().word(1, 7), 0x80000000u) << "bits outside the data mask stay";
}

TEST(SimAcquisitionTest, CountsDependOnCountingTimeNotOnHowOftenTheUnitIsTouched) {
    FakeClock fast, slow;
    sim::Chain often(fast.clock(), 0), once(slow.clock(), 0);
    sim::UnitConfig config = OneInput(0x00FFFFFF);
    config.detector[0].acquiring = true;
    sim::Unit& a = *often.addUnit(9, config);
    sim::Unit& b = *once.addUnit(9, config);
    for (int i = 0; i < 7777; ++i) {
        ++fast.ms;
        often.sync();
    }
    slow.ms = 7777;
    once.sync();
    EXPECT_GT(Total(Spectrum(b, 1), 0x00FFFFFF), 0u) << "nothing counted";
    EXPECT_EQ(Spectrum(a, 1), Spectrum(b, 1));
}

TEST(SimAcquisitionTest, SpectrumHasPeaksOverABackground) {
    FakeClock clock;
    sim::Chain chain(clock.clock(), 0);
    sim::UnitConfig config = OneInput(0x00FFFFFF);
    config.detector[0].liveMs = 100000;
    sim::Unit& unit = *chain.addUnit(9, config);
    auto words = Spectrum(unit, 1);
    std::uint32_t peak = *std::max_element(words.begin(), words.end());
    std::vector<std::uint32_t> sorted = words;
    std::sort(sorted.begin(), sorted.end());
    std::uint32_t median = sorted[sorted.size() / 2];
    EXPECT_GT(median, 0u) << "background in most channels";
    EXPECT_GT(peak, 20 * median);
}

TEST(SimAcquisitionTest, CountsSaturateAtTheDataMask) {
    FakeClock clock;
    sim::Chain chain(clock.clock(), 0);
    sim::UnitConfig config = OneInput(0x000000FF);
    config.detector[0].liveMs = 10'000'000;
    sim::Unit& unit = *chain.addUnit(9, config);
    *unit.state().word(1, 3) |= 0xAB000000;
    unit.state().detector(1).acquiring = true;
    clock.ms += 100000;
    chain.sync();
    for (std::uint32_t w : Spectrum(unit, 1)) ASSERT_LE(w & 0x00FFFFFF, 0xFFu);
    EXPECT_EQ(*unit.state().word(1, 3), 0xAB0000FFu);
}

TEST(SimAcquisitionTest, FourDeviceDataSpaceFollowsTheSelectedDevice) {
    FakeClock clock;
    auto chain = sim::Chain::Default(clock.clock(), 0);
    sim::EmulatedDriver driver(*chain);
    MailboxClient mcb(driver, clock, 12, 4);
    sim::Unit& unit = *chain->unit(12);
    *unit.state().word(1, 100) = 0x111;
    *unit.state().word(3, 100) = 0x333;
    std::uint8_t bytes[4];
    mcb.exchange("SET_DEVI 3");
    ASSERT_TRUE(simtest::NtRead(driver, simtest::UnitByte(12, false), 400, bytes, 4));
    EXPECT_EQ(bytes[0] | (bytes[1] << 8), 0x333);
    mcb.exchange("SET_DEVI 1");
    ASSERT_TRUE(simtest::NtRead(driver, simtest::UnitByte(12, false), 400, bytes, 4));
    EXPECT_EQ(bytes[0] | (bytes[1] << 8), 0x111);
}

}  // namespace

// The emulated port driver: request buffers of both protocols, refusals,
// counters, the request log and injected failures.
#include <gtest/gtest.h>

#include "sim/demo.h"
#include "sim_test_support.h"

namespace {

using simtest::FakeClock;
using simtest::Words;

class SimDriverTest : public ::testing::Test {
protected:
    FakeClock clock;
    std::unique_ptr<sim::Chain> chain = sim::Chain::Default(clock.clock(), 1039009530);
    sim::EmulatedDriver driver{*chain};
    sim::Unit& unit9 = *chain->unit(9);
    sim::Unit& unit12 = *chain->unit(12);
};

TEST_F(SimDriverTest, NtReadReturnsChannelWordsLittleEndian) {
    unit9.state().detector(1).acquiring = false;
    *unit9.state().word(1, 5) = 0x11223344;
    *unit9.state().word(2, 0) = 0xA0B0C0D0;  // segment 2 starts after 4096 words of segment 1
    std::uint8_t bytes[4];
    ASSERT_TRUE(simtest::NtRead(driver, 0x00, 4 * 5, bytes, 4));
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[3], 0x11);
    ASSERT_TRUE(simtest::NtRead(driver, 0x00, 4 * 4096, bytes, 4));
    EXPECT_EQ(bytes[0], 0xD0);
    EXPECT_EQ(bytes[3], 0xA0);
}

TEST_F(SimDriverTest, UnitByteSelectsNumberAndSpace) {
    auto mcb16 = chain->addUnit(16, sim::UnitConfig{});
    std::uint8_t value = 0x3C;
    // 0x0F: MCB 16, mailbox space; type 5 puts offset 20 at byte 40.
    ASSERT_TRUE(simtest::NtWrite(driver, 0x0F, 40, &value, 1));
    EXPECT_EQ(mcb16->mailboxByte(20), 0x3C);
    // 0x0B: MCB 12, mailbox space; type 4 puts offset 20 at byte 83.
    value = 0x5D;
    ASSERT_TRUE(simtest::NtWrite(driver, 0x0B, 83, &value, 1));
    EXPECT_EQ(unit12.mailboxByte(20), 0x5D);
    EXPECT_EQ(unit9.mailboxByte(20), 0);
    // 0x00: MCB 9, data space.
    value = 0x77;
    ASSERT_TRUE(simtest::NtWrite(driver, 0x00, 4 * 100, &value, 1));
    EXPECT_EQ(*unit9.state().word(1, 100) & 0xFF, 0x77u);
    EXPECT_EQ(unit9.mailboxByte(200), 0);
}

TEST_F(SimDriverTest, NtTransfersNeedAMatchingSetAddress) {
    std::uint8_t bytes[8] = {};
    EXPECT_FALSE(driver.Ioctl(sim::kNtRead, nullptr, 0, bytes, 4, nullptr)) << "no set-address yet";
    ASSERT_TRUE(simtest::NtSetAddress(driver, 0x08, 0, 4));
    EXPECT_FALSE(driver.Ioctl(sim::kNtRead, nullptr, 0, bytes, 8, nullptr)) << "length differs";
    EXPECT_FALSE(driver.Ioctl(sim::kNtWrite, bytes, 2, nullptr, 0, nullptr)) << "length differs";
    EXPECT_TRUE(driver.Ioctl(sim::kNtRead, nullptr, 0, bytes, 4, nullptr)) << "a refusal kept the address";
    EXPECT_FALSE(driver.Ioctl(sim::kNtRead, nullptr, 0, bytes, 4, nullptr)) << "one address, one transfer";
}

TEST_F(SimDriverTest, MalformedRequestsAreRefusedAndChangeNothing) {
    auto set = Words({0, 16, 0, 1});
    EXPECT_FALSE(driver.Ioctl(sim::kNtSetAddress, set.data(), 16, nullptr, 0, nullptr)) << "unit byte 16";
    EXPECT_FALSE(driver.Ioctl(sim::kNtSetAddress, set.data(), 12, nullptr, 0, nullptr)) << "short input";
    EXPECT_FALSE(driver.Ioctl(0x9C402408, set.data(), 16, nullptr, 0, nullptr)) << "unknown code";
    std::uint8_t byte = 0xFF;
    EXPECT_FALSE(driver.Ioctl(sim::kNtWrite, &byte, 1, nullptr, 0, nullptr));
    EXPECT_EQ(unit9.mailboxByte(0), 0);
    std::uint32_t returned = 99;
    EXPECT_FALSE(driver.Ioctl(sim::kNtSetPort, set.data(), 4, nullptr, 4, &returned)) << "null output";
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(driver.refused(), 5u);
}

TEST_F(SimDriverTest, Win95ReadTakesChunksOfOneTo1024Bytes) {
    *unit9.state().word(1, 256) = 0xCAFEBABE;
    unit9.state().detector(1).acquiring = false;
    std::vector<std::uint8_t> out(2500, 0);
    std::uint32_t returned = 0;
    auto in = Words({0x00, 1024, 1024});
    ASSERT_TRUE(driver.Ioctl(sim::kW95Read, in.data(), 12, out.data(), 2500, &returned)) << "bigger output is fine";
    EXPECT_EQ(returned, 1024u);
    EXPECT_EQ(out[0], 0xBE);
    EXPECT_EQ(out[3], 0xCA);

    auto tooBig = Words({0x00, 0, 1025});
    EXPECT_FALSE(driver.Ioctl(sim::kW95Read, tooBig.data(), 12, out.data(), 2500, &returned));
    auto empty = Words({0x00, 0, 0});
    EXPECT_FALSE(driver.Ioctl(sim::kW95Read, empty.data(), 12, out.data(), 2500, &returned));
    auto small = Words({0x00, 0, 452});
    EXPECT_FALSE(driver.Ioctl(sim::kW95Read, small.data(), 12, out.data(), 451, &returned)) << "output too small";
    EXPECT_TRUE(driver.Ioctl(sim::kW95Read, small.data(), 12, out.data(), 452, &returned));
    auto badUnit = Words({0x10, 0, 4});
    EXPECT_FALSE(driver.Ioctl(sim::kW95Read, badUnit.data(), 12, out.data(), 4, &returned));
}

TEST_F(SimDriverTest, Win95WriteFindsItsBytesThroughTheFlatAddress) {
    const std::uint8_t data[3] = {0xA5, 0x00, 0x5A};
    auto in = Words({0x08, 2 * 20, 3, 0x12345678, 0});
    EXPECT_FALSE(driver.Ioctl(sim::kW95Write, in.data(), 20, nullptr, 0, nullptr)) << "no resolver";
    std::uint32_t askedFlat = 0, askedLength = 0;
    driver.resolveFlat = [&](std::uint32_t flat, std::uint32_t length) -> const std::uint8_t* {
        askedFlat = flat;
        askedLength = length;
        return flat == 0x12345678 ? data : nullptr;
    };
    ASSERT_TRUE(driver.Ioctl(sim::kW95Write, in.data(), 20, nullptr, 0, nullptr));
    EXPECT_EQ(askedFlat, 0x12345678u);
    EXPECT_EQ(askedLength, 3u);
    // Type 5: three consecutive device bytes 40, 41, 42 are offset 20, (gap), offset 21.
    EXPECT_EQ(unit9.mailboxByte(20), 0xA5);
    EXPECT_EQ(unit9.mailboxByte(21), 0x5A);
    auto unknown = Words({0x08, 40, 3, 0x1111, 0});
    EXPECT_FALSE(driver.Ioctl(sim::kW95Write, unknown.data(), 20, nullptr, 0, nullptr));
    EXPECT_FALSE(driver.Ioctl(sim::kW95Write, in.data(), 16, nullptr, 0, nullptr)) << "short input";
}

TEST_F(SimDriverTest, PortRequestsAnswerWithTheirResultWords) {
    std::int32_t answer = 0;
    std::uint32_t returned = 0;
    auto lpt = Words({1});
    driver.lptAnswer = -3;
    ASSERT_TRUE(driver.Ioctl(sim::kW95SetLpt, lpt.data(), 4, &answer, 4, &returned));
    EXPECT_EQ(answer, -3);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(driver.lptRequested(), 1u);
    EXPECT_FALSE(driver.Ioctl(sim::kW95SetLpt, lpt.data(), 4, &answer, 2, &returned));

    std::uint32_t port = 0x278;
    ASSERT_TRUE(driver.Ioctl(sim::kNtSetPort, &port, 4, &port, 4, &returned));
    EXPECT_EQ(driver.portAddress(), 0x278u);
}

TEST_F(SimDriverTest, ProtocolChoiceMakesTheOtherCodesUnknown) {
    driver.protocol = sim::EmulatedDriver::Protocol::Nt;
    auto in = Words({0x00, 0, 4});
    std::uint8_t out[4];
    EXPECT_FALSE(driver.Ioctl(sim::kW95Read, in.data(), 12, out, 4, nullptr));
    EXPECT_TRUE(simtest::NtRead(driver, 0, 0, out, 4));
    driver.protocol = sim::EmulatedDriver::Protocol::Win95;
    EXPECT_TRUE(driver.Ioctl(sim::kW95Read, in.data(), 12, out, 4, nullptr));
    EXPECT_FALSE(simtest::NtSetAddress(driver, 0, 0, 4));
}

TEST_F(SimDriverTest, CountsAndLogsRequests) {
    driver.setLogLimit(2);
    std::uint8_t byte = 0;
    simtest::NtRead(driver, 0x08, 0, &byte, 1);
    simtest::NtRead(driver, 0x08, 2, &byte, 1);
    driver.Ioctl(77, nullptr, 0, nullptr, 0, nullptr);
    EXPECT_EQ(driver.requests(), 5u);
    EXPECT_EQ(driver.requests(sim::kNtSetAddress), 2u);
    EXPECT_EQ(driver.requests(sim::kNtRead), 2u);
    EXPECT_EQ(driver.refused(), 1u);
    ASSERT_EQ(driver.log().size(), 2u);
    EXPECT_EQ(driver.log()[0].code, sim::kNtRead);
    EXPECT_EQ(driver.log()[0].outLen, 1u);
    EXPECT_TRUE(driver.log()[0].ok);
    EXPECT_EQ(driver.log()[1].code, 77u);
    EXPECT_FALSE(driver.log()[1].ok);

    driver.setLogLimit(8);
    simtest::NtSetAddress(driver, 0x0B, 0x1234, 7);
    EXPECT_EQ(driver.log().back().input, Words({0, 0x0B, 0x1234, 7}));
}

TEST_F(SimDriverTest, InjectedFailuresRefuseWellFormedRequests) {
    std::uint8_t value = 0x42;
    driver.failNext(2);
    EXPECT_FALSE(simtest::NtSetAddress(driver, 0x08, 40, 1));
    EXPECT_FALSE(simtest::NtSetAddress(driver, 0x08, 40, 1));
    EXPECT_TRUE(simtest::NtWrite(driver, 0x08, 40, &value, 1));
    EXPECT_EQ(unit9.mailboxByte(20), 0x42);
    driver.failAll = true;
    value = 0x43;
    EXPECT_FALSE(simtest::NtWrite(driver, 0x08, 40, &value, 1));
    EXPECT_EQ(unit9.mailboxByte(20), 0x42);
    EXPECT_EQ(driver.refused(), 3u);
}

}  // namespace

namespace {

TEST_F(SimDriverTest, AnInjectedFailureCanBeAimedPastTheNextRequests) {
    std::uint8_t value = 0x51;
    driver.failNext(1, 2);  // the two requests of one write pass, the third fails
    EXPECT_TRUE(simtest::NtWrite(driver, 0x08, 40, &value, 1));
    EXPECT_EQ(unit9.mailboxByte(20), 0x51);
    value = 0x52;
    EXPECT_FALSE(simtest::NtSetAddress(driver, 0x08, 40, 1));
    EXPECT_TRUE(simtest::NtWrite(driver, 0x08, 40, &value, 1));
    EXPECT_EQ(unit9.mailboxByte(20), 0x52);
    EXPECT_EQ(driver.refused(), 1u);
}

}  // namespace

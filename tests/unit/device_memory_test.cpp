// The driver requests that reach the port: unit byte, address mapping,
// chunking and the exact request buffers of both protocols.
#include <gtest/gtest.h>

#include <vector>

#include "addin/process_state.h"
#include "port/device_memory.h"
#include "support/fake_os.h"

namespace {

std::vector<std::uint8_t> Words(std::initializer_list<std::uint32_t> words) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return bytes;
}

class DeviceMemory : public ::testing::Test {
protected:
    fake::FakeOs os;
    fake::Installed installed{os};
    void SetUp() override {
        os.logRequests = true;
        Process().hPortDriver = 0x42;  // no device behind it: requests are only logged
    }
    void UseWin95() { Process().dwPlatformId = platform::kPlatformWin95; }
    void UseNt() { Process().dwPlatformId = platform::kPlatformNt; }
};

TEST_F(DeviceMemory, UnitByteCarriesSpaceAndIndex) {
    SelectUnit(16, 1);
    EXPECT_EQ(UnitByte(), 0x0Fu);
    SelectUnit(9, 0);
    EXPECT_EQ(UnitByte(), 0x00u);
    SelectUnit(12, 1);
    EXPECT_EQ(UnitByte(), 0x0Bu);
    SelectUnit(12, 7);  // any non-zero flag is the mailbox space
    EXPECT_EQ(UnitByte(), 0x0Bu);
}

TEST_F(DeviceMemory, MailboxOffsetsMapByType) {
    const int offsets[] = {0, 14, 16, 496, 510, 512};
    const std::uint32_t type4[] = {3, 59, 67, 1987, 2043, 2051};
    const std::uint32_t type5[] = {0, 28, 32, 992, 1020, 1024};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(MailboxAddress(4, offsets[i]), type4[i]);
        EXPECT_EQ(MailboxAddress(5, offsets[i]), type5[i]);
        EXPECT_EQ(MailboxAddress(0, offsets[i]), type4[i]);  // any other type maps as 4
    }
}

TEST_F(DeviceMemory, Win95ReadGoesInChunksWithTheRemainingSizeAsOutput) {
    UseWin95();
    SelectUnit(10, 0);
    std::vector<std::uint8_t> buffer(2500);
    ReadDeviceMemory(0x1000, 2500, buffer.data());
    ASSERT_EQ(os.requestLog.size(), 3u);
    EXPECT_EQ(os.requestLog[0].code, 2u);
    EXPECT_EQ(os.requestLog[0].in, Words({1, 0x1000, 1024}));
    EXPECT_EQ(os.requestLog[0].outLen, 2500u);
    EXPECT_EQ(os.requestLog[1].in, Words({1, 0x1400, 1024}));
    EXPECT_EQ(os.requestLog[1].outLen, 1476u);
    EXPECT_EQ(os.requestLog[2].in, Words({1, 0x1800, 452}));
    EXPECT_EQ(os.requestLog[2].outLen, 452u);
    os.requestLog.clear();
    ReadDeviceMemory(0, 1024, buffer.data());
    EXPECT_EQ(os.requestLog.size(), 1u);
    os.requestLog.clear();
    ReadDeviceMemory(0, 0, buffer.data());
    ReadDeviceMemory(0, -5, buffer.data());
    EXPECT_TRUE(os.requestLog.empty());
}

TEST_F(DeviceMemory, Win95WriteIsOneRequestCarryingTheBytesAddress) {
    UseWin95();
    SelectUnit(11, 1);
    const std::uint8_t data[3000] = {0xAB, 0xCD};
    WriteDeviceMemory(0x20, 3000, data);
    ASSERT_EQ(os.requestLog.size(), 1u);
    const auto& request = os.requestLog[0];
    EXPECT_EQ(request.code, 3u);
    ASSERT_EQ(request.in.size(), 20u);
    EXPECT_EQ(std::vector<std::uint8_t>(request.in.begin(), request.in.begin() + 12), Words({0x0A, 0x20, 3000}));
    EXPECT_EQ(std::vector<std::uint8_t>(request.in.begin() + 16, request.in.end()), Words({0}));
    EXPECT_TRUE(request.outNull);
    EXPECT_EQ(request.outLen, 0u);
    ASSERT_EQ(request.flatBytes.size(), 3000u);
    EXPECT_EQ(request.flatBytes[0], 0xAB);
    EXPECT_EQ(request.flatBytes[1], 0xCD);
}

TEST_F(DeviceMemory, NtTransfersSetTheAddressFirst) {
    UseNt();
    SelectUnit(16, 1);
    std::uint8_t buffer[8] = {};
    ReadDeviceMemory(1987, 8, buffer);
    ASSERT_EQ(os.requestLog.size(), 2u);
    EXPECT_EQ(os.requestLog[0].code, 0x9C402404u);
    EXPECT_EQ(os.requestLog[0].in, Words({0, 0x0F, 1987, 8}));
    EXPECT_TRUE(os.requestLog[0].outNull);
    EXPECT_EQ(os.requestLog[1].code, 0x9C402443u);
    EXPECT_TRUE(os.requestLog[1].in.empty());
    EXPECT_EQ(os.requestLog[1].outLen, 8u);
    os.requestLog.clear();
    const std::uint8_t data[2] = {0x12, 0x34};
    SelectUnit(9, 0);
    WriteDeviceMemory(40, 2, data);
    ASSERT_EQ(os.requestLog.size(), 2u);
    EXPECT_EQ(os.requestLog[0].in, Words({0, 0x00, 40, 2}));
    EXPECT_EQ(os.requestLog[1].code, 0x9C40240Bu);
    EXPECT_EQ(os.requestLog[1].in, (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_TRUE(os.requestLog[1].outNull);
}

TEST_F(DeviceMemory, MailboxBytesAreOneRequestEachAndWordsGoLowByteFirst) {
    UseWin95();
    SelectUnit(9, 1);
    WriteMailboxByte(5, 0, -1);
    ASSERT_EQ(os.requestLog.size(), 1u);
    EXPECT_EQ(os.requestLog[0].flatBytes, (std::vector<std::uint8_t>{0xFF}));
    os.requestLog.clear();
    WriteMailboxWord(4, 14, 0x0309);
    ASSERT_EQ(os.requestLog.size(), 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(os.requestLog[0].in.begin() + 4, os.requestLog[0].in.begin() + 8),
              Words({59}));
    EXPECT_EQ(os.requestLog[0].flatBytes, (std::vector<std::uint8_t>{0x09}));
    EXPECT_EQ(std::vector<std::uint8_t>(os.requestLog[1].in.begin() + 4, os.requestLog[1].in.begin() + 8),
              Words({63}));
    EXPECT_EQ(os.requestLog[1].flatBytes, (std::vector<std::uint8_t>{0x03}));
    os.requestLog.clear();
    std::uint8_t block[3];
    ReadMailboxBlock(5, 512, 3, block);
    ASSERT_EQ(os.requestLog.size(), 3u);
    EXPECT_EQ(os.requestLog[2].in, Words({8, 1028, 1}));
    os.requestLog.clear();
    ReadMailboxBlock(5, 512, 0, block);
    WriteMailboxBlock(5, 16, -1, block);
    EXPECT_TRUE(os.requestLog.empty());
}

TEST_F(DeviceMemory, AFailedReadYieldsZero) {
    UseNt();
    EXPECT_EQ(ReadMailboxByte(5, 0), 0);
}

TEST_F(DeviceMemory, DetectionWithoutADriverSendsNothing) {
    Process().hPortDriver = platform::kInvalidHandle;
    EXPECT_EQ(DetectMailboxType(12), -1);
    EXPECT_TRUE(os.requestLog.empty());
}

}  // namespace

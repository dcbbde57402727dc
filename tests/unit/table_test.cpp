// The operations that answer from the shared table.
#include <gtest/gtest.h>

#include <cstring>

#include "addin/kestrel.h"
#include "support/fake_os.h"

namespace {

class Table : public ::testing::Test {
protected:
    fake::FakeOs os;
    fake::Installed installed{os};
    Kestrel addin;

    McbRecord& Present(int nMcb, int nDetectors) {
        McbRecord& record = os.shared.records[nMcb - 9];
        record.nMailboxType = 5;
        record.nDetectors = nDetectors;
        std::strcpy(record.szVersion, "0000-000");
        return record;
    }
};

TEST_F(Table, AFreshBlockAnswersNothingAndProbesNothing) {
    char version[8];
    std::memset(version, 'x', sizeof version);
    std::uint32_t words[4] = {7, 7, 7, 7};
    for (int nMcb = 9; nMcb <= 16; ++nMcb) EXPECT_EQ(addin.GetDetectorCount(nMcb), 0);
    EXPECT_FALSE(addin.GetFeatures(9, 1, words, 4));
    EXPECT_EQ(words[0], 7u);
    EXPECT_FALSE(addin.GetMcbVersion(9, version, sizeof version));
    EXPECT_EQ(version[7], '\0');
    EXPECT_EQ(version[0], 'x');
    EXPECT_EQ(os.driverRequests, 0u);
}

TEST_F(Table, NumbersOutsideTheRangesAreInvalid) {
    Present(9, 2);
    Present(16, 2);
    for (auto [nMcb, nDet] : {std::pair{8, 1}, {17, 1}, {9, 0}, {9, 17}, {9, 3}, {16, -1}}) {
        addin.SetDetectorWord(nMcb, nDet, 99);
        EXPECT_EQ(addin.GetDetectorWord(nMcb, nDet), 0u) << nMcb << "/" << nDet;
        EXPECT_EQ(addin.GetDetectorChannels(nMcb, nDet), 0u);
    }
    EXPECT_EQ(addin.GetDetectorCount(8), 0);
    for (const McbRecord& record : os.shared.records)
        for (std::uint32_t word : record.dwDetectorWord) EXPECT_EQ(word, 0u);
    addin.SetDetectorWord(9, 2, 42);
    EXPECT_EQ(addin.GetDetectorWord(9, 2), 42u);
}

TEST_F(Table, FeaturesArePaddedWithZerosOrCut) {
    McbRecord& record = Present(10, 1);
    for (int i = 0; i < 16; ++i) record.dwFeatures[0][i] = 100 + i;
    std::uint32_t words[20];
    std::memset(words, 0xEE, sizeof words);
    EXPECT_TRUE(addin.GetFeatures(10, 1, words, 20));
    EXPECT_EQ(words[15], 115u);
    for (int i = 16; i < 20; ++i) EXPECT_EQ(words[i], 0u);
    std::memset(words, 0xEE, sizeof words);
    EXPECT_TRUE(addin.GetFeatures(10, 1, words, 4));
    EXPECT_EQ(words[3], 103u);
    EXPECT_EQ(words[4], 0xEEEEEEEEu);
    EXPECT_TRUE(addin.GetFeatures(10, 1, words, 0));
    // Words asked for with no buffer: nothing delivered, nothing written.
    EXPECT_FALSE(addin.GetFeatures(10, 1, nullptr, 4));
    EXPECT_TRUE(addin.GetFeatures(10, 1, nullptr, 0));
}

TEST_F(Table, VersionIsCutAndAlwaysTerminated) {
    Present(9, 1);
    char version[5];
    EXPECT_TRUE(addin.GetMcbVersion(9, version, sizeof version));
    EXPECT_STREQ(version, "0000");
    char full[12];
    std::memset(full, 'x', sizeof full);
    EXPECT_TRUE(addin.GetMcbVersion(9, full, sizeof full));
    EXPECT_STREQ(full, "0000-000");
    for (int i = 8; i < 12; ++i) EXPECT_EQ(full[i], '\0');
}

TEST_F(Table, ChannelsWidenTheSixteenBitEntry) {
    McbRecord& record = Present(11, 2);
    record.wChannels[1] = 65535;
    EXPECT_EQ(addin.GetDetectorChannels(11, 2), 65535u);
}

TEST_F(Table, AnAbsentMcbIsProbedAgainOnlyAfterTwoSecondsAcrossAWrap) {
    os.tickBase = 0xFFFFFF00u;  // the tick counter wraps in 256 ms
    McbRecord& record = Present(12, 2);
    record.nMailboxType = -1;
    record.dwProbeTick = os.Now();
    const std::uint32_t dwProbed = record.dwProbeTick;
    os.Advance(2000);
    EXPECT_EQ(addin.GetDetectorCount(12), 0);
    EXPECT_EQ(record.dwProbeTick, dwProbed);  // no probe yet
    os.Advance(1);
    EXPECT_EQ(addin.GetDetectorCount(12), 0);  // no driver: the probe finds nothing
    EXPECT_EQ(record.dwProbeTick, os.Now());
    EXPECT_EQ(record.nDetectors, 0);
}

}  // namespace

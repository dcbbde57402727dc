// A whole host session on the demo chain, then a later process that finds
// what the first one stored.
#include <gtest/gtest.h>

#include <vector>

#include "addin/process_state.h"
#include "support/rig.h"

namespace {

std::uint64_t Sum(const std::vector<std::uint32_t>& words, std::uint32_t mask) {
    std::uint64_t total = 0;
    for (std::uint32_t word : words) total += word & mask;
    return total;
}

TEST(Session, AWholeSessionAndALaterProcessThatFindsItsValues) {
    fake::Rig rig;
    rig.DemoChain();
    rig.ConnectNt();
    LocalAddin& host = rig.addin;  // the host sees only the interface

    // Open and enumerate.
    ASSERT_TRUE(host.Open());
    EXPECT_EQ(rig.os.CountTrace("Kestrel: 6 detectors for local access\r\n"), 1);
    EXPECT_EQ(host.GetDetectorCount(9), 2);
    EXPECT_EQ(host.GetDetectorCount(12), 4);
    EXPECT_EQ(host.GetDetectorChannels(9, 2), 4096u);
    char version[9];
    EXPECT_TRUE(host.GetMcbVersion(12, version, sizeof version));
    EXPECT_STREQ(version, "8474-001");

    // Lock detector 2 of MCB 9 (values kept in the unit) and detector 1 of
    // MCB 12 (values kept in the INI file), and describe the first.
    host.SetLock(9, 2, 7, "Smith lab");
    host.SetLock(12, 1, 8, "Jones");
    char owner[32] = "";
    EXPECT_EQ(host.GetLock(9, 2, owner, sizeof owner), 7u);
    EXPECT_STREQ(owner, "Smith lab");
    EXPECT_TRUE(host.SetAppData(9, 2, "@DESC", "Left arm"));
    char description[32];
    bool bDefault = true;
    EXPECT_TRUE(host.GetDescription(9, 2, description, sizeof description, &bDefault));
    EXPECT_STREQ(description, "Left arm");
    EXPECT_FALSE(bDefault);

    // Set and clear a region of interest.
    std::int32_t nErr = -9, nStatus2 = -9;
    EXPECT_EQ(host.SetROI(9, 2, 100, 50, 0, &nErr, &nStatus2), 1);
    EXPECT_EQ(host.ClearROI(9, 2, 100, 50, 0, &nErr, &nStatus2), 1);
    EXPECT_EQ(nErr, 0);

    // Start an acquisition with a raw command and stamp its start.
    char resp[32];
    std::int32_t nLen = -9;
    ASSERT_TRUE(host.SendCommand(9, 2, "START", sizeof resp, resp, &nLen, &nErr, &nStatus2));
    EXPECT_EQ(nErr, 0);
    host.SetStartTime(9, 2, 0);
    const std::uint32_t tStamped = static_cast<std::uint32_t>(rig.os.wallClock);
    std::int32_t nActive = 0;
    EXPECT_TRUE(host.IsActive(9, 2, &nActive));
    EXPECT_EQ(nActive, 1);

    // The spectrum grows while the unit counts.
    std::vector<std::uint32_t> words(4096);
    std::uint32_t dwMask = 0, dwAux = 0;
    ASSERT_EQ(host.GetData(9, 2, &dwMask, &dwAux, 0, 0, 4096, 0, words.data()), 1);
    EXPECT_EQ(dwMask, 0x00FFFFFFu);
    EXPECT_EQ(dwAux, 0xFF000000u);
    const std::uint64_t before = Sum(words, dwMask);
    rig.os.Advance(2000);
    ASSERT_EQ(host.GetData(9, 2, nullptr, nullptr, 0, 0, 4096, 0, words.data()), 1);
    const std::uint64_t after = Sum(words, dwMask);
    EXPECT_GT(after, before);

    // Stop, then write two channels under the data mask: the top byte is
    // the unit's and stays.
    ASSERT_TRUE(host.SendCommand(9, 2, "STOP", 0, nullptr, nullptr, &nErr, &nStatus2));
    std::uint32_t old[2];
    ASSERT_EQ(host.GetData(9, 2, nullptr, nullptr, 0, 10, 2, 0, old), 1);
    const std::uint32_t values[2] = {0xAB000005, 7};
    EXPECT_EQ(host.SetData(9, 2, 0, 10, 2, 0, values), 1);
    std::uint32_t now[2];
    ASSERT_EQ(host.GetData(9, 2, nullptr, nullptr, 0, 10, 2, 0, now), 1);
    EXPECT_EQ(now[0], (old[0] & 0xFF000000u) | 5u);
    EXPECT_EQ(now[1], (old[1] & 0xFF000000u) | 7u);

    // The unit keeps its own start stamp for this detector: the start time
    // comes from its clock, the moment of "START".
    std::uint32_t tNow = 0;
    const std::uint32_t tStart = host.LocalGetStartTime(9, 2, &tNow);
    const std::int64_t unitStart = *rig.Unit(9).state().detector(2).startStamp;
    EXPECT_EQ(static_cast<std::int64_t>(tStart), unitStart);
    EXPECT_GE(static_cast<std::int64_t>(tNow), unitStart);

    ASSERT_TRUE(host.Close());
    EXPECT_EQ(rig.os.shared.nSystemOpenCount, 0);
    EXPECT_EQ(rig.os.mutexDepth(), 0);

    // Every process has gone: the shared block goes with them. A new
    // process opens the add-in and finds the stored locks and start stamp.
    rig.os.shared = SharedState{};
    Process() = ProcessState{};
    Kestrel later;
    LocalAddin& next = later;
    ASSERT_TRUE(next.Open());
    char laterOwner[32] = "";
    EXPECT_EQ(next.GetLock(9, 2, laterOwner, sizeof laterOwner), 7u);
    EXPECT_STREQ(laterOwner, "Smith lab");
    EXPECT_EQ(next.GetLock(12, 1, laterOwner, sizeof laterOwner), 8u);
    EXPECT_STREQ(laterOwner, "Jones");
    EXPECT_EQ(static_cast<std::uint32_t>(rig.Record(9).tStartTime[1]), tStamped);
    EXPECT_EQ(next.LocalGetStartTime(9, 2, nullptr), tStart);
    EXPECT_TRUE(next.Close());
    EXPECT_EQ(rig.os.mutexDepth(), 0);
}

}  // namespace

// The whole add-in driven as the host drives it, through the raw interface
// table: open on a simulated chain, raw commands to each detector, close.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "addin/process_state.h"
#include "support/rig.h"

namespace {

using OpenFn = bool (*)(LocalAddin*);
using CountFn = std::int32_t (*)(LocalAddin*, std::int32_t);
using SendFn = bool (*)(LocalAddin*, std::int32_t, std::int32_t, const char*, std::int32_t, char*, std::int32_t*,
                        std::int32_t*, std::int32_t*);

struct Answer {
    bool bDone = false;
    std::string text;
    std::int32_t nLen = -9, nErr = -9, nStatus2 = -9;
};

class EndToEnd : public ::testing::TestWithParam<bool> {
protected:
    fake::Rig rig;
    void** table = nullptr;

    void SetUp() override {
        rig.DemoChain();  // MCB 9: two segments; MCB 12: four devices
        if (GetParam())
            rig.ConnectNt();
        else
            rig.ConnectWin95();
        table = *reinterpret_cast<void***>(&rig.addin);
    }
    bool Open() { return reinterpret_cast<OpenFn>(table[0])(&rig.addin); }
    bool Close() { return reinterpret_cast<OpenFn>(table[1])(&rig.addin); }
    std::int32_t Count(std::int32_t nMcb) { return reinterpret_cast<CountFn>(table[13])(&rig.addin, nMcb); }
    Answer Send(std::int32_t nMcb, std::int32_t nDet, const char* szCmd) {
        Answer answer;
        char szResp[128];
        std::memset(szResp, 'X', sizeof szResp);
        answer.bDone = reinterpret_cast<SendFn>(table[4])(&rig.addin, nMcb, nDet, szCmd, sizeof szResp, szResp,
                                                         &answer.nLen, &answer.nErr, &answer.nStatus2);
        answer.text = szResp;
        return answer;
    }
};

TEST_P(EndToEnd, OpenCommandEachDetectorAndClose) {
    ASSERT_TRUE(Open());
    EXPECT_EQ(rig.os.opens.size(), 1u);
    EXPECT_EQ(rig.os.opens[0].path, GetParam() ? fake::kNtDevice : fake::kW95Device);
    EXPECT_NE(Process().hPortDriver, platform::kInvalidHandle);
    EXPECT_EQ(rig.os.shared.nSystemOpenCount, 1);
    EXPECT_EQ(Process().nProcessOpenCount, 1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel: 6 detectors for local access\r\n"), 1);
    EXPECT_EQ(Count(9), 2);
    EXPECT_EQ(Count(12), 4);
    EXPECT_EQ(Count(10), 0);

    Answer a = Send(9, 1, "SHOW_VERS");
    EXPECT_TRUE(a.bDone);
    EXPECT_EQ(a.text, "$F0919-005");
    EXPECT_EQ(a.nLen, 10);
    EXPECT_EQ(a.nErr, 0);
    EXPECT_EQ(a.nStatus2, 0);

    a = Send(9, 2, "SHOW_CONF_MASK");
    EXPECT_TRUE(a.bDone);
    EXPECT_EQ(a.text, "CONF_MASK 16777215 4278190080");
    EXPECT_EQ(a.nLen, 29);

    rig.Unit(12).clearLogs();
    a = Send(12, 3, "SHOW_FEAT");
    EXPECT_TRUE(a.bDone);
    EXPECT_EQ(a.text, "FEAT 65536 0 0 0");
    EXPECT_EQ(a.nErr, 0);
    EXPECT_EQ(rig.Received(12), (std::vector<std::string>{"SET_DEVI 3", "SHOW_FEAT"}));

    // Every detector answers for itself: the input is selected first.
    a = Send(9, 1, "SHOW_FEAT_EXTE");
    EXPECT_EQ(a.text, "FEAT 17 34 51 68");
    a = Send(9, 2, "SHOW_FEAT_EXTE");
    EXPECT_EQ(a.text, "FEAT 85 34 51 68");
    for (std::int32_t nDev = 1; nDev <= 4; ++nDev) {
        a = Send(12, nDev, "SHOW_ACTI");  // the selected device, as bit 0
        EXPECT_TRUE(a.bDone) << nDev;
        EXPECT_EQ(a.nErr, 0) << nDev;
        EXPECT_EQ(a.nLen, 10) << nDev;
        EXPECT_EQ(a.text.substr(0, 7), nDev == 2 ? "$C00001" : "$C00000") << nDev;
    }

    // Refusals complete the exchange and carry the unit's error code.
    rig.Unit(12).faults.refuse("SHOW_FEAT", 5, 12);
    a = Send(12, 4, "SHOW_FEAT");
    EXPECT_TRUE(a.bDone);
    EXPECT_EQ(a.nErr, 5);
    EXPECT_EQ(a.nStatus2, 12);
    EXPECT_EQ(a.nLen, 0);
    EXPECT_EQ(a.text, "");
    a = Send(9, 2, "MAKE_COFFEE");
    EXPECT_TRUE(a.bDone);
    EXPECT_EQ(a.nErr, 1);

    // No such detector.
    a = Send(10, 1, "SHOW_VERS");
    EXPECT_FALSE(a.bDone);
    EXPECT_EQ(a.nErr, -1);
    EXPECT_EQ(a.nLen, 0);
    EXPECT_EQ(a.text, "");
    a = Send(12, 5, "SHOW_VERS");
    EXPECT_FALSE(a.bDone);

    EXPECT_TRUE(Close());
    EXPECT_EQ(rig.os.driverCloses, 1);
    EXPECT_EQ(Process().hPortDriver, platform::kInvalidHandle);
    EXPECT_EQ(rig.os.shared.nSystemOpenCount, 0);
    EXPECT_EQ(Process().nProcessOpenCount, 0);
    EXPECT_EQ(rig.os.mutexDepth(), 0);
    EXPECT_EQ(rig.os.mutexAcquisitions, rig.os.mutexReleases);
}

INSTANTIATE_TEST_SUITE_P(Protocols, EndToEnd, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Nt" : "Win95"; });

}  // namespace

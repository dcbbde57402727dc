// The shipped kestrel.dll meets the simulated chain: its driver imports are
// served by the simulator, and a host session runs through the slots in
// either driver protocol, then a later process finds what it stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tools/kestrel/addin_slots.h"
#include "win/win_test.h"

namespace wintest {
namespace {

using namespace kestrel_tool::slots;
using std::int32_t;
using std::uint32_t;

std::string IniPath() {
    char szDir[MAX_PATH];
    ::GetWindowsDirectoryA(szDir, sizeof szDir);
    return std::string(szDir) + "\\HVNACC32.INI";
}

struct Answer {
    bool bDone;
    std::string text;
    int32_t nLen = -9, nErr = -9, nStatus2 = -9;
};

class Session : public ::testing::TestWithParam<DWORD> {
protected:
    void SetUp() override {
        ::DeleteFileA(IniPath().c_str());
        Sim() = Simulated{};
        Sim().chain = sim::Chain::Default();
        Sim().platformId = GetParam();
    }
    void TearDown() override {
        Sim().chain.reset();
        ::DeleteFileA(IniPath().c_str());
    }
    // Loads the DLL with its driver imports served here, and opens it.
    void Open(AddinDll& dll) {
        ASSERT_TRUE(dll.Loaded());
        std::vector<std::string> redirected = dll.ServeFromSimulator();
        std::sort(redirected.begin(), redirected.end());
        ASSERT_EQ(redirected, (std::vector<std::string>{"CloseHandle", "CreateFileA", "DeviceIoControl",
                                                        "GetVersionExA"}));
        ASSERT_TRUE(dll.Call<bool>(kOpen));
    }
    Answer Send(const AddinDll& dll, int32_t nMcb, int32_t nDet, const char* szCmd) {
        char szResp[64] = "";
        Answer a;
        a.bDone = dll.Call<bool>(kSendCommand, nMcb, nDet, szCmd, int32_t{sizeof szResp}, +szResp, &a.nLen,
                                 &a.nErr, &a.nStatus2);
        a.text = szResp;
        return a;
    }
    std::string Owner(const AddinDll& dll, int32_t nMcb, int32_t nDet, uint32_t expectedLock) {
        char szOwner[32] = "";
        EXPECT_EQ(dll.Call<uint32_t>(kGetLock, nMcb, nDet, +szOwner, int32_t{32}), expectedLock);
        return szOwner;
    }
    std::vector<uint32_t> Data(const AddinDll& dll, uint32_t dwStart, int32_t nCount, uint32_t* pdwMask = nullptr,
                               uint32_t* pdwAux = nullptr) {
        std::vector<uint32_t> words(nCount);
        EXPECT_EQ(dll.Call<int32_t>(kGetData, 9, 2, pdwMask, pdwAux, 0u, dwStart, nCount, 0, words.data()), 1);
        return words;
    }
};

TEST_P(Session, EverySlotOnTheSimulatedChainAndALaterProcessFindsTheValues) {
    const bool bNt = GetParam() == VER_PLATFORM_WIN32_NT;
    uint32_t tStart = 0;
    {
        AddinDll dll;
        ASSERT_NO_FATAL_FAILURE(Open(dll));
        EXPECT_EQ(Sim().opened, std::vector<std::string>{bNt ? "\\\\.\\TarnDev" : "\\\\.\\KMZ01D.VXD"});
        EXPECT_EQ(*dll->pnSystemOpenCount, 1);
        // The start-up found the chain: MCB 9 with two inputs, MCB 12 with four devices.
        EXPECT_EQ(dll.Call<int32_t>(kGetDetectorCount, 9), 2);
        EXPECT_EQ(dll.Call<int32_t>(kGetDetectorCount, 12), 4);
        EXPECT_EQ(dll.Call<int32_t>(kGetDetectorCount, 10), 0);
        EXPECT_TRUE(dll.Call<bool>(kIsValidDetector, 12, 4));
        EXPECT_FALSE(dll.Call<bool>(kIsValidDetector, 9, 3));
        EXPECT_EQ(dll.Call<uint32_t>(kGetDetectorChannels, 12, 2), 16384u);
        char szVersion[9] = "";
        EXPECT_TRUE(dll.Call<bool>(kGetMcbVersion, 12, +szVersion, int32_t{9}));
        EXPECT_STREQ(szVersion, "8474-001");
        uint32_t features[4] = {};
        EXPECT_TRUE(dll.Call<bool>(kGetFeatures, 9, 1, +features, int32_t{4}));
        EXPECT_EQ(features[0], 0x00110000u);

        // Raw commands, a refusal, and a detector that is not there.
        Answer a = Send(dll, 9, 1, "SHOW_VERS");
        EXPECT_TRUE(a.bDone);
        EXPECT_EQ(a.text, "$F0919-005");
        EXPECT_EQ(a.nLen, 10);
        EXPECT_EQ(a.nErr, 0);
        Sim().chain->unit(12)->faults.refuse("SHOW_FEAT", 5, 12);
        a = Send(dll, 12, 4, "SHOW_FEAT");
        EXPECT_TRUE(a.bDone);
        EXPECT_EQ(a.nErr, 5);
        EXPECT_EQ(a.nStatus2, 12);
        EXPECT_FALSE(Send(dll, 10, 1, "SHOW_VERS").bDone);

        // Locks, descriptions and identifiers: MCB 9 keeps them in the
        // unit, MCB 12 in HVNACC32.INI.
        dll.Call<void>(kSetLock, 9, 2, 7u, "Smith lab");
        dll.Call<void>(kSetLock, 12, 1, 8u, "Jones");
        EXPECT_EQ(Owner(dll, 9, 2, 7), "Smith lab");
        EXPECT_TRUE(dll.Call<bool>(kSetAppData, 9, 2, "@DESC", "Left arm"));
        char szDesc[32] = "";
        bool bDefault = true;
        EXPECT_TRUE(dll.Call<bool>(kGetDescription, 9, 2, +szDesc, int32_t{32}, &bDefault));
        EXPECT_STREQ(szDesc, "Left arm");
        EXPECT_FALSE(bDefault);
        uint32_t dwId = 0;
        EXPECT_TRUE(dll.Call<bool>(kGetDetectorId, 12, 3, &dwId, &bDefault));
        EXPECT_EQ(dwId, 1203u);
        EXPECT_TRUE(bDefault);
        EXPECT_TRUE(dll.Call<bool>(kSetAppData, 12, 3, "@ID", "4711"));
        std::ifstream ini(IniPath());
        const std::string text{std::istreambuf_iterator<char>(ini), {}};
        EXPECT_NE(text.find("Jones"), std::string::npos) << text;
        EXPECT_NE(text.find("4711"), std::string::npos) << text;
        EXPECT_EQ(text.find("Smith lab"), std::string::npos) << "MCB 9 keeps its values itself";

        // A region of interest, set and cleared.
        int32_t nErr = -9, nStatus2 = -9;
        EXPECT_EQ(dll.Call<int32_t>(kSetRoi, 9, 2, 100u, 50u, 0, &nErr, &nStatus2), 1);
        EXPECT_EQ(dll.Call<int32_t>(kClearRoi, 9, 2, 100u, 50u, 0, &nErr, &nStatus2), 1);
        EXPECT_EQ(nErr, 0);

        // Start counting and stamp the start; the spectrum grows.
        ASSERT_TRUE(Send(dll, 9, 2, "START").bDone);
        dll.Call<void>(kSetStartTime, 9, 2, 0u);
        int32_t nActive = 0;
        EXPECT_TRUE(dll.Call<bool>(kIsActive, 9, 2, &nActive));
        EXPECT_EQ(nActive, 1);
        uint32_t tNow = 0;
        tStart = dll.Call<uint32_t>(kLocalGetStartTime, 9, 2, &tNow);
        EXPECT_EQ(tStart, *Sim().chain->unit(9)->state().detector(2).startStamp);
        EXPECT_GE(tNow, tStart);
        uint32_t dwMask = 0, dwAux = 0;
        std::vector<uint32_t> before = Data(dll, 0, 4096, &dwMask, &dwAux);
        EXPECT_EQ(dwMask, 0x00FFFFFFu);
        EXPECT_EQ(dwAux, 0xFF000000u);
        ::Sleep(1000);
        std::vector<uint32_t> after = Data(dll, 0, 4096);
        EXPECT_GT(std::count_if(after.begin(), after.end(), [](uint32_t w) { return (w & 0xFFFFFF) != 0; }), 0);
        EXPECT_NE(before, after);

        // Stop; a write under the data mask keeps the unit's top byte.
        ASSERT_TRUE(Send(dll, 9, 2, "STOP").bDone);
        const std::vector<uint32_t> old = Data(dll, 10, 2);
        const uint32_t values[2] = {0xAB000005, 7};
        EXPECT_EQ(dll.Call<int32_t>(kSetData, 9, 2, 0u, 10u, 2, 0u, +values), 1);
        EXPECT_EQ(Data(dll, 10, 2), (std::vector<uint32_t>{(old[0] & 0xFF000000) | 5, (old[1] & 0xFF000000) | 7}));

        EXPECT_TRUE(dll.Call<bool>(kClose));
        EXPECT_EQ(Sim().driversOpen, 0);
        if (!bNt) {
            EXPECT_GT(Sim().flatFound, 0);
            EXPECT_EQ(Sim().flatNotFound, 0) << "a write request without the caller's address";
        }
    }
    // The last process has gone and the shared block with it.
    AddinDll later;
    ASSERT_NO_FATAL_FAILURE(Open(later));
    EXPECT_EQ(Owner(later, 9, 2, 7), "Smith lab");
    EXPECT_EQ(Owner(later, 12, 1, 8), "Jones");
    EXPECT_EQ(later.Call<uint32_t>(kLocalGetStartTime, 9, 2, static_cast<uint32_t*>(nullptr)), tStart);
    uint32_t dwId = 0;
    bool bDefault = true;
    EXPECT_TRUE(later.Call<bool>(kGetDetectorId, 12, 3, &dwId, &bDefault));
    EXPECT_EQ(dwId, 4711u);
    EXPECT_TRUE(later.Call<bool>(kClose));
}

INSTANTIATE_TEST_SUITE_P(Protocols, Session, ::testing::Values(VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS),
                         [](const auto& info) { return info.param == VER_PLATFORM_WIN32_NT ? "Nt" : "Win95"; });

}  // namespace
}  // namespace wintest

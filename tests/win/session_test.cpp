// The shipped kestrel.dll on the simulated chain: a host session through
// the slots in either driver protocol, then a later process that finds what
// the first one stored in the unit and in HVNACC32.INI.
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
using Words = std::vector<uint32_t>;

std::string IniPath() {
    char szDir[MAX_PATH];
    return std::string(szDir, ::GetWindowsDirectoryA(szDir, sizeof szDir)) + "\\HVNACC32.INI";
}

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
    void Open(AddinDll& dll) {
        ASSERT_TRUE(dll.Loaded());
        std::vector<std::string> redirected = dll.ServeFromSimulator();
        std::sort(redirected.begin(), redirected.end());
        ASSERT_EQ(redirected, (std::vector<std::string>{"CloseHandle", "CreateFileA", "DeviceIoControl", "GetVersionExA"}));
        ASSERT_TRUE(dll.Call<bool>(kOpen));
    }
    // The reply text, its length and the two status numbers; "-" when not done.
    std::string Send(const AddinDll& dll, int32_t nMcb, int32_t nDet, const char* szCmd) {
        char szResp[64] = "";
        int32_t nLen = -9, nErr = -9, nStatus2 = -9;
        bool bDone = dll.Call<bool>(kSendCommand, nMcb, nDet, szCmd, int32_t{64}, +szResp, &nLen, &nErr, &nStatus2);
        return bDone ? std::string(szResp) + "/" + std::to_string(nLen) + "/" + std::to_string(nErr) + "/" +
                           std::to_string(nStatus2) : "-";
    }
    std::string Lock(const AddinDll& dll, int32_t nMcb, int32_t nDet) {
        char szOwner[32] = "";
        return std::to_string(dll.Call<uint32_t>(kGetLock, nMcb, nDet, +szOwner, int32_t{32})) + " " + szOwner;
    }
    Words Data(const AddinDll& dll, uint32_t dwStart, int32_t nCount, uint32_t* pdwMasks = nullptr) {
        Words words(nCount);
        EXPECT_EQ(dll.Call<int32_t>(kGetData, 9, 2, pdwMasks, pdwMasks ? pdwMasks + 1 : nullptr, 0u, dwStart,
                                    nCount, 0, words.data()), 1);
        return words;
    }
};

TEST_P(Session, EverySlotOnTheSimulatedChainThenALaterProcess) {
    const bool bNt = GetParam() == VER_PLATFORM_WIN32_NT;
    uint32_t tStart = 0;
    {
        AddinDll dll;
        ASSERT_NO_FATAL_FAILURE(Open(dll));
        EXPECT_EQ(Sim().opened, std::vector<std::string>{bNt ? "\\\\.\\TarnDev" : "\\\\.\\KMZ01D.VXD"});
        EXPECT_EQ(*dll->pnSystemOpenCount, 1);
        // The start-up found MCB 9 with two inputs and MCB 12 with four devices.
        Words found;
        for (int32_t nMcb : {9, 10, 12}) found.push_back(dll.Call<int32_t>(kGetDetectorCount, nMcb));
        found.push_back(dll.Call<bool>(kIsValidDetector, 12, 4) + 2 * dll.Call<bool>(kIsValidDetector, 9, 3));
        found.push_back(dll.Call<uint32_t>(kGetDetectorChannels, 12, 2));
        EXPECT_EQ(found, (Words{2, 0, 4, 1, 16384}));
        char szVersion[9] = "";
        uint32_t features[4] = {};
        EXPECT_TRUE(dll.Call<bool>(kGetMcbVersion, 12, +szVersion, int32_t{9}) &&
                    dll.Call<bool>(kGetFeatures, 9, 1, +features, int32_t{4}));
        EXPECT_EQ(szVersion + std::to_string(features[0]), "8474-001" + std::to_string(0x00110000));

        // Raw commands: an answer, a refusal, no such detector.
        EXPECT_EQ(Send(dll, 9, 1, "SHOW_VERS"), "$F0919-005/10/0/0");
        Sim().chain->unit(12)->faults.refuse("SHOW_FEAT", 5, 12);
        EXPECT_EQ(Send(dll, 12, 4, "SHOW_FEAT"), "/0/5/12");
        EXPECT_EQ(Send(dll, 10, 1, "SHOW_VERS"), "-");

        // Locks, descriptions, identifiers: MCB 9 keeps them, MCB 12 has HVNACC32.INI keep them.
        dll.Call<void>(kSetLock, 9, 2, 7u, "Smith lab");
        dll.Call<void>(kSetLock, 12, 1, 8u, "Jones");
        EXPECT_EQ(Lock(dll, 9, 2), "7 Smith lab");
        EXPECT_TRUE(dll.Call<bool>(kSetAppData, 9, 2, "@DESC", "Left arm"));
        char szDesc[32] = "";
        bool bDefault = true;
        EXPECT_TRUE(dll.Call<bool>(kGetDescription, 9, 2, +szDesc, int32_t{32}, &bDefault));
        EXPECT_EQ(std::string(szDesc) + (bDefault ? " default" : ""), "Left arm");
        uint32_t dwId = 0;
        EXPECT_TRUE(dll.Call<bool>(kGetDetectorId, 12, 3, &dwId, &bDefault));
        EXPECT_EQ(dwId + bDefault, 1204u) << "1203, by default";
        EXPECT_TRUE(dll.Call<bool>(kSetAppData, 12, 3, "@ID", "4711"));
        const std::string ini{std::istreambuf_iterator<char>(std::ifstream(IniPath()).rdbuf()), {}};
        EXPECT_TRUE(ini.find("Jones") != ini.npos && ini.find("4711") != ini.npos) << ini;
        EXPECT_EQ(ini.find("Smith"), ini.npos) << "MCB 9 keeps its values itself";

        int32_t nErr = -9, nStatus2 = -9;
        EXPECT_EQ(dll.Call<int32_t>(kSetRoi, 9, 2, 100u, 50u, 0, &nErr, &nStatus2), 1);
        EXPECT_EQ(dll.Call<int32_t>(kClearRoi, 9, 2, 100u, 50u, 0, &nErr, &nStatus2), 1);
        EXPECT_EQ(nErr, 0);

        // Counting, its start stamped in the unit; the spectrum grows.
        EXPECT_EQ(Send(dll, 9, 2, "START").substr(0, 1), "/");
        dll.Call<void>(kSetStartTime, 9, 2, 0u);
        int32_t nActive = 0;
        uint32_t tNow = 0;
        EXPECT_TRUE(dll.Call<bool>(kIsActive, 9, 2, &nActive) && nActive == 1);
        tStart = dll.Call<uint32_t>(kLocalGetStartTime, 9, 2, &tNow);
        EXPECT_EQ(tStart, *Sim().chain->unit(9)->state().detector(2).startStamp);
        EXPECT_GE(tNow, tStart);
        uint32_t masks[2] = {};
        const Words before = Data(dll, 0, 4096, masks);
        EXPECT_EQ(Words(masks, masks + 2), (Words{0x00FFFFFF, 0xFF000000}));
        ::Sleep(1000);
        EXPECT_NE(Data(dll, 0, 4096), before);

        // Stopped, a write under the data mask keeps the unit's top byte.
        EXPECT_EQ(Send(dll, 9, 2, "STOP").substr(0, 1), "/");
        const Words old = Data(dll, 10, 2);
        const uint32_t values[2] = {0xAB000005, 7};
        EXPECT_EQ(dll.Call<int32_t>(kSetData, 9, 2, 0u, 10u, 2, 0u, +values), 1);
        EXPECT_EQ(Data(dll, 10, 2), (Words{(old[0] & 0xFF000000) | 5, (old[1] & 0xFF000000) | 7}));
        EXPECT_TRUE(dll.Call<bool>(kClose));
        EXPECT_EQ(Sim().driversOpen, 0);
        EXPECT_TRUE(bNt || (Sim().flatFound > 0 && Sim().flatNotFound == 0)) << "writes without the caller's address";
    }
    AddinDll later;  // the block went with the last process
    ASSERT_NO_FATAL_FAILURE(Open(later));
    EXPECT_EQ(Lock(later, 9, 2) + ", " + Lock(later, 12, 1), "7 Smith lab, 8 Jones");
    EXPECT_EQ(later.Call<uint32_t>(kLocalGetStartTime, 9, 2, static_cast<uint32_t*>(nullptr)), tStart);
    uint32_t dwId = 0;
    bool bDefault = true;
    EXPECT_TRUE(later.Call<bool>(kGetDetectorId, 12, 3, &dwId, &bDefault) && dwId == 4711 && !bDefault);
    EXPECT_TRUE(later.Call<bool>(kClose));
}

INSTANTIATE_TEST_SUITE_P(Protocols, Session, ::testing::Values(VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS),
                         [](const auto& info) { return info.param == VER_PLATFORM_WIN32_NT ? "Nt" : "Win95"; });

}  // namespace
}  // namespace wintest

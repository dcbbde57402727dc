// The shipped kestrel.dll on the simulated chain: a host session through the slots in either driver
// protocol, the DLL's imports of the kernel calls that reach the port driver served by stand-ins over the
// simulator.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "sim/chain.h"
#include "sim/driver.h"
#include "tools/kestrel/addin_slots.h"
#include "win/win_test.h"

namespace wintest {
namespace {

using namespace kestrel_tool::slots;
using std::int32_t;
using std::uint32_t;
using Words = std::vector<uint32_t>;

// What the stand-ins serve (a chain; the family GetVersionExA reports), and what they saw.
struct Simulated {
    std::unique_ptr<sim::Chain> chain;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    std::string opened;                           // the device names, one after the other
    std::unique_ptr<sim::EmulatedDriver> driver;  // while open
} g_sim;

// The caller's bytes behind a Windows 95 write request's flat address. The add-in writes from its stack: on
// 32-bit the flat address is the real one; on 64-bit it holds the low half of one, and the stack gives the
// rest. Any other address is refused, and the session fails.
const std::uint8_t* ResolveFlat(std::uint32_t flat, std::uint32_t length) {
    auto tib = reinterpret_cast<const NT_TIB*>(::NtCurrentTeb());
    auto low = reinterpret_cast<std::uintptr_t>(tib->StackLimit);
    std::uintptr_t address = (low & ~std::uintptr_t{0xFFFFFFFF}) | flat;
    bool found = address >= low && address + length <= reinterpret_cast<std::uintptr_t>(tib->StackBase);
    return found ? reinterpret_cast<const std::uint8_t*>(address) : nullptr;
}

// The add-in opens nothing but the driver with CreateFileA, uses DeviceIoControl on nothing else.
HANDLE WINAPI SimCreateFileA(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    g_sim.opened += path;
    const bool nt = g_sim.platformId == VER_PLATFORM_WIN32_NT;
    if (!g_sim.chain || std::strcmp(path, nt ? "\\\\.\\TarnDev" : "\\\\.\\KMZ01D.VXD") != 0) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    g_sim.driver = std::make_unique<sim::EmulatedDriver>(*g_sim.chain);
    g_sim.driver->protocol = nt ? sim::EmulatedDriver::Protocol::Nt : sim::EmulatedDriver::Protocol::Win95;
    g_sim.driver->resolveFlat = ResolveFlat;
    return reinterpret_cast<HANDLE>(g_sim.driver.get());  // far from the handles Windows hands out
}

BOOL WINAPI SimDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inLen, LPVOID out, DWORD outLen,
                               LPDWORD returned, LPOVERLAPPED) {
    return g_sim.driver && handle == g_sim.driver.get() &&
           g_sim.driver->ioctl(code, in, inLen, out, outLen, reinterpret_cast<std::uint32_t*>(returned));
}

BOOL WINAPI SimCloseHandle(HANDLE handle) {
    if (!g_sim.driver || handle != g_sim.driver.get()) return ::CloseHandle(handle);
    g_sim.driver.reset();
    return TRUE;
}

BOOL WINAPI SimGetVersionExA(LPOSVERSIONINFOA version) {
    version->dwPlatformId = g_sim.platformId;  // all the add-in reads
    return TRUE;
}

// Points the DLL's imports of the driver calls and GetVersionExA, in
// memory, at the stand-ins; false unless it found all four.
bool ServeFromSimulator(HMODULE module) {
    const std::map<std::string, void*> stands = {
        {"CreateFileA", reinterpret_cast<void*>(&SimCreateFileA)},
        {"DeviceIoControl", reinterpret_cast<void*>(&SimDeviceIoControl)},
        {"CloseHandle", reinterpret_cast<void*>(&SimCloseHandle)},
        {"GetVersionExA", reinterpret_cast<void*>(&SimGetVersionExA)}};
    std::size_t redirected = 0;
    auto base = reinterpret_cast<BYTE*>(module);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        auto name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            auto stand = stands.find(reinterpret_cast<const char*>(
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name));
            if (stand == stands.end()) continue;
            DWORD protection = 0;
            ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection);
            slot->u1.Function = reinterpret_cast<std::uintptr_t>(stand->second);
            ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
            ++redirected;
        }
    }
    return redirected == stands.size();
}

class Session : public ::testing::TestWithParam<DWORD> {
protected:
    void SetUp() override {
        ::DeleteFileA(ini.c_str());
        g_sim = Simulated{sim::Chain::demo(), GetParam(), {}, {}};
    }
    void TearDown() override { g_sim = Simulated{}; }
    // The reply text, its length and the two status numbers.
    static std::string Send(const AddinDll& dll, int32_t nMcb, int32_t nDet, const char* szCmd) {
        char szResp[64] = "";
        int32_t nLen = -9, nErr = -9, nStatus2 = -9;
        EXPECT_TRUE(dll.Call<bool>(kSendCommand, nMcb, nDet, szCmd, int32_t{64}, +szResp, &nLen, &nErr, &nStatus2));
        return std::string(szResp) + "/" + std::to_string(nLen) + "/" + std::to_string(nErr) + "/" + std::to_string(nStatus2);
    }
    static std::string Lock(const AddinDll& dll, int32_t nMcb, int32_t nDet) {
        char szOwner[32] = "";
        return std::to_string(dll.Call<uint32_t>(kGetLock, nMcb, nDet, +szOwner, int32_t{32})) + " " + szOwner;
    }
    static Words Data(const AddinDll& dll, uint32_t dwStart, int32_t nCount, uint32_t* pdwMasks = nullptr) {
        Words words(nCount);
        EXPECT_EQ(dll.Call<int32_t>(kGetData, 9, 2, pdwMasks, pdwMasks ? pdwMasks + 1 : nullptr, 0u, dwStart,
                                    nCount, 0, words.data()), 1);
        return words;
    }
    const std::string ini = [] {
        char szDir[MAX_PATH];
        return std::string(szDir, ::GetWindowsDirectoryA(szDir, sizeof szDir)) + "\\HVNACC32.INI";
    }();
};

TEST_P(Session, EverySlotOnTheSimulatedChain) {
    AddinDll dll;
    ASSERT_TRUE(dll.Loaded() && ServeFromSimulator(dll.Module()));
    ASSERT_TRUE(dll.Call<bool>(kOpen));
    EXPECT_EQ(g_sim.opened, GetParam() == VER_PLATFORM_WIN32_NT ? "\\\\.\\TarnDev" : "\\\\.\\KMZ01D.VXD");
    EXPECT_EQ(*dll->pnSystemOpenCount, 1);
    // The start-up found MCB 9 with two inputs and MCB 12 with four devices.
    Words found;
    for (int32_t nMcb : {9, 10, 12}) found.push_back(dll.Call<int32_t>(kGetDetectorCount, nMcb));
    found.push_back(dll.Call<bool>(kIsValidDetector, 12, 4) + 2 * dll.Call<bool>(kIsValidDetector, 9, 3));
    found.push_back(dll.Call<uint32_t>(kGetDetectorChannels, 12, 2));
    EXPECT_EQ(found, (Words{2, 0, 4, 1, 16384}));
    char szText[32] = "";
    uint32_t features[4] = {};
    EXPECT_TRUE(dll.Call<bool>(kGetMcbVersion, 12, +szText, int32_t{9}) &&
                dll.Call<bool>(kGetFeatures, 9, 1, +features, int32_t{4}));
    EXPECT_EQ(szText + std::to_string(features[0]), "8474-001" + std::to_string(0x00110000));
    EXPECT_EQ(Send(dll, 9, 1, "SHOW_VERS"), "$F0919-005/10/0/0");
    g_sim.chain->unit(12)->faults.refuse("SHOW_FEAT", 5, 12);
    EXPECT_EQ(Send(dll, 12, 4, "SHOW_FEAT"), "/0/5/12");

    // Locks, descriptions, identifiers: MCB 9 keeps them, MCB 12 has HVNACC32.INI keep them.
    dll.Call<void>(kSetLock, 9, 2, 7u, "Smith lab");
    dll.Call<void>(kSetLock, 12, 1, 8u, "Jones");
    EXPECT_EQ(Lock(dll, 9, 2) + ", " + Lock(dll, 12, 1), "7 Smith lab, 8 Jones");
    EXPECT_TRUE(dll.Call<bool>(kSetAppData, 9, 2, "@DESC", "Left arm"));
    bool bDefault = true;
    EXPECT_TRUE(dll.Call<bool>(kGetDescription, 9, 2, +szText, int32_t{32}, &bDefault));
    EXPECT_EQ(szText + std::string(bDefault ? " default" : ""), "Left arm");
    uint32_t dwId = 0;
    EXPECT_TRUE(dll.Call<bool>(kGetDetectorId, 12, 3, &dwId, &bDefault));
    EXPECT_EQ(dwId + bDefault, 1204u) << "1203, by default";
    EXPECT_TRUE(dll.Call<bool>(kSetAppData, 12, 3, "@ID", "4711"));
    EXPECT_TRUE(dll.Call<bool>(kGetDetectorId, 12, 3, &dwId, &bDefault) && dwId == 4711 && !bDefault);
    const std::string text{std::istreambuf_iterator<char>(std::ifstream(ini).rdbuf()), {}};
    EXPECT_TRUE(text.find("Jones") != text.npos && text.find("4711") != text.npos) << text;
    EXPECT_EQ(text.find("Smith"), text.npos) << "MCB 9 keeps its values itself";
    int32_t nErr = -9, nStatus2 = -9;
    EXPECT_EQ(dll.Call<int32_t>(kSetRoi, 9, 2, 100u, 50u, 0, &nErr, &nStatus2) +
              dll.Call<int32_t>(kClearRoi, 9, 2, 100u, 50u, 0, &nErr, &nStatus2) + nErr, 2);

    // Counting, its start stamped in the unit.
    EXPECT_EQ(Send(dll, 9, 2, "START").substr(0, 1), "/");
    dll.Call<void>(kSetStartTime, 9, 2, 0u);
    int32_t nActive = 0;
    uint32_t tNow = 0;
    EXPECT_TRUE(dll.Call<bool>(kIsActive, 9, 2, &nActive) && nActive == 1);
    const uint32_t tStart = dll.Call<uint32_t>(kLocalGetStartTime, 9, 2, &tNow);
    EXPECT_EQ(tStart, *g_sim.chain->unit(9)->state().detector(2).startStamp);
    EXPECT_GE(tNow, tStart);

    // Stopped, a write under the data mask keeps the unit's top byte.
    EXPECT_EQ(Send(dll, 9, 2, "STOP").substr(0, 1), "/");
    uint32_t masks[2] = {};
    const Words old = Data(dll, 10, 2, masks);
    EXPECT_EQ(Words(masks, masks + 2), (Words{0x00FFFFFF, 0xFF000000}));
    const uint32_t values[2] = {0xAB000005, 7};
    EXPECT_EQ(dll.Call<int32_t>(kSetData, 9, 2, 0u, 10u, 2, 0u, +values), 1);
    EXPECT_EQ(Data(dll, 10, 2), (Words{(old[0] & 0xFF000000) | 5, (old[1] & 0xFF000000) | 7}));
    EXPECT_TRUE(dll.Call<bool>(kClose));
    EXPECT_FALSE(g_sim.driver) << "the driver left open";
}

INSTANTIATE_TEST_SUITE_P(Protocols, Session, ::testing::Values(VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS),
                         [](const auto& info) { return info.param == VER_PLATFORM_WIN32_NT ? "Nt" : "Win95"; });

}  // namespace
}  // namespace wintest

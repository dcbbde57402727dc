// kestrel.dll as it ships, loaded as the host loads it, in one and in two
// processes: the file itself, its named mutex, the block all processes share.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "win/win_test.h"

namespace wintest {
namespace {

bool MutexExists() {
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, kAddinMutexName);
    return mutex && ::CloseHandle(mutex);
}

std::uint64_t Fnv1a(const std::string& path) {  // 0: unreadable
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::uint64_t hash = 0xCBF29CE484222325;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001B3;
    return bytes.empty() ? 0 : hash;
}

TEST(AddinDll, TheLoadedFileIsTheProductByteForByte) {
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    char szLoaded[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameA(addin.Module(), szLoaded, sizeof szLoaded), 0u);
    const std::uint64_t product = Fnv1a(KESTREL_PRODUCT_DLL);
    ASSERT_NE(product, 0u) << "cannot read " << KESTREL_PRODUCT_DLL;
    EXPECT_EQ(Fnv1a(szLoaded), product) << szLoaded << " is not " << KESTREL_PRODUCT_DLL;
    std::printf("%s: FNV-1a %016llx, as loaded\n", KESTREL_PRODUCT_DLL, static_cast<unsigned long long>(product));
}

TEST(AddinDll, LoadingMakesTheMutexAndAZeroSharedBlockTheLastUnloadDropsThem) {
    ASSERT_FALSE(MutexExists()) << "another process has the add-in loaded";
    for (int round = 0; round < 2; ++round) {
        AddinDll addin;
        ASSERT_TRUE(addin.Loaded());
        EXPECT_EQ(addin->nFirstMcb, 9);
        EXPECT_STREQ(addin->szNameTag, "KS");
        EXPECT_TRUE(MutexExists());
        EXPECT_EQ(*addin->pnSystemOpenCount, 0);
        const auto* bytes = reinterpret_cast<const char*>(addin->pMcbTable);
        EXPECT_EQ(std::count(bytes, bytes + sizeof(McbRecord) * MCB_COUNT, 0), sizeof(McbRecord) * MCB_COUNT);
        addin.Record(16).dwDetectorWord[15] = 0xABCD;  // gone in the next round
        addin.Unload();
        EXPECT_FALSE(MutexExists());
    }
}

TEST(AddinDll, ASecondProcessSharesTheOpenCountAndTheTable) {
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    ASSERT_TRUE(addin.Call<bool>(0));
    EXPECT_EQ(addin.Call<std::int32_t>(13, 9), 0);  // no driver here: no MCB
    std::uint32_t* pdwReport = addin.Record(16).dwDetectorWord;
    std::fill(pdwReport, pdwReport + 4, 0xEEEEu);
    ChildProcess child("addin-peer");
    ASSERT_EQ(child.Wait(60000), 0u) << "the child could not load the add-in";
    EXPECT_EQ(std::vector<std::uint32_t>(pdwReport + 1, pdwReport + 4), (std::vector<std::uint32_t>{1, 2, 1}))
        << "the open count at the child's load, after its Open, after its Close";
    EXPECT_TRUE(addin.Call<bool>(1));
    EXPECT_EQ(*addin->pnSystemOpenCount, 0);
}

TEST(AddinDll, AnOperationWaitsForAnotherProcessAndGoesOnWhenThatOneIsKilled) {
    const std::string name = "KestrelReady" + std::to_string(::GetCurrentProcessId());
    HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    ChildProcess child("addin-hold-mutex", name);
    ASSERT_EQ(::WaitForSingleObject(ready, 30000), WAIT_OBJECT_0) << "the child did not take the add-in's mutex";
    ::CloseHandle(ready);
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    std::atomic<int> calls{0};
    std::thread caller([&] {
        for (; calls < 2; ++calls) addin.Call<std::int32_t>(13, 9);
    });
    ::Sleep(300);
    EXPECT_EQ(calls, 0) << "the operation ran while another process held the mutex";
    child.Kill();
    for (int waited = 0; calls < 2 && waited < 20000; waited += 10) ::Sleep(10);
    EXPECT_EQ(calls, 2) << "the abandoned mutex blocks the add-in";
    if (calls < 2) caller.detach();  // a failed test only
    else caller.join();
}

}  // namespace
}  // namespace wintest

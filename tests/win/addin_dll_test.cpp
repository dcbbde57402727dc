// kestrel.dll as it ships, loaded as the host loads it, in one and in two
// processes: the file itself, its named mutex, and the block all processes
// share.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "win/win_test.h"

namespace wintest {
namespace {

bool MutexExists() {
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, kAddinMutexName);
    if (mutex) ::CloseHandle(mutex);
    return mutex != nullptr;
}

// FNV-1a, 64 bits, of a whole file; 0 when it cannot be read.
std::uint64_t FileHash(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::uint64_t hash = 0xCBF29CE484222325;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001B3;
    return bytes.empty() ? 0 : hash;
}

// Calls GetDetectorCount(9) on a thread of its own.
struct CountCall {
    explicit CountCall(const AddinDll& dll) : addin(dll) {
        thread = ::CreateThread(nullptr, 0, [](void* self) -> DWORD {
            auto call = static_cast<CountCall*>(self);
            call->result = call->addin.Call<std::int32_t>(13, 9);
            return 0;
        }, this, 0, nullptr);
    }
    ~CountCall() {
        if (!Finished(0)) ::TerminateThread(thread, 1);  // a failed test only
        ::CloseHandle(thread);
    }
    bool Finished(DWORD ms) { return ::WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; }
    const AddinDll& addin;
    std::int32_t result = -1;
    HANDLE thread;
};

TEST(AddinDll, TheLoadedFileIsTheProductByteForByte) {
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    char szLoaded[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameA(addin.Module(), szLoaded, sizeof szLoaded), 0u);
    const std::uint64_t product = FileHash(KESTREL_PRODUCT_DLL);
    ASSERT_NE(product, 0u) << "cannot read " << KESTREL_PRODUCT_DLL;
    EXPECT_EQ(FileHash(szLoaded), product) << szLoaded << " is not " << KESTREL_PRODUCT_DLL;
    std::printf("kestrel.dll FNV-1a 64 %016llx: %s\n", static_cast<unsigned long long>(product),
                KESTREL_PRODUCT_DLL);
}

TEST(AddinDll, LoadingMakesTheMutexAndAZeroSharedBlockUnloadingDropsThem) {
    ASSERT_FALSE(MutexExists()) << "another process has the add-in loaded";
    {
        AddinDll addin;
        ASSERT_TRUE(addin.Loaded());
        EXPECT_EQ(addin->nFirstMcb, 9);
        EXPECT_STREQ(addin->szNameTag, "KS");
        EXPECT_TRUE(MutexExists());
        EXPECT_EQ(*addin->pnSystemOpenCount, 0);
        const auto* bytes = reinterpret_cast<const unsigned char*>(addin->pMcbTable);
        EXPECT_EQ(std::count(bytes, bytes + sizeof(McbRecord) * MCB_COUNT, 0), sizeof(McbRecord) * MCB_COUNT);
        for (const void* shared : {static_cast<const void*>(addin->pnSystemOpenCount),
                                   static_cast<const void*>(addin->pMcbTable + MCB_COUNT - 1)})
            EXPECT_NE(SectionFlags(addin.Module(), shared) & IMAGE_SCN_MEM_SHARED, 0u);
        addin.Record(16).dwDetectorWord[15] = 0xABCD;
    }
    EXPECT_FALSE(MutexExists());
    AddinDll again;
    ASSERT_TRUE(again.Loaded());
    EXPECT_EQ(again.Record(16).dwDetectorWord[15], 0u) << "the last process took the block along";
}

TEST(AddinDll, ASecondProcessSharesTheOpenCountAndTheTable) {
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    ASSERT_TRUE(addin.Call<bool>(0));
    ASSERT_EQ(*addin->pnSystemOpenCount, 1);
    EXPECT_EQ(addin.Call<std::int32_t>(13, 9), 0);  // no driver here: no MCB
    std::uint32_t* pdwReport = addin.Record(16).dwDetectorWord;
    std::fill(pdwReport, pdwReport + 4, 0xEEEEu);
    ChildProcess child("addin-peer");
    ASSERT_EQ(child.Wait(60000), 0u) << "the child could not load the add-in";
    EXPECT_EQ(pdwReport[1], 1u);  // at its load
    EXPECT_EQ(pdwReport[2], 2u);  // after its Open
    EXPECT_EQ(pdwReport[3], 1u);  // after its Close
    EXPECT_TRUE(addin.Call<bool>(1));
    EXPECT_EQ(*addin->pnSystemOpenCount, 0);
}

TEST(AddinDll, AnOperationWaitsForAnotherProcessAndGoesOnWhenThatOneIsKilled) {
    ReadyEvent ready;
    ChildProcess child("addin-hold-mutex", ready.Name());
    ASSERT_TRUE(ready.Wait(30000)) << "the child did not take the add-in's mutex";
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    CountCall call(addin);
    EXPECT_FALSE(call.Finished(300)) << "the operation ran while another process held the mutex";
    child.Kill();
    ASSERT_TRUE(call.Finished(20000)) << "the abandoned mutex blocks the add-in";
    EXPECT_EQ(call.result, 0);
    CountCall again(addin);  // taken and given back: the next call runs too
    EXPECT_TRUE(again.Finished(20000));
}

}  // namespace
}  // namespace wintest

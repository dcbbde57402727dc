// kestrel.dll loaded as the host loads it, in one and in several processes:
// the exported object, its named mutex, and the block all processes share.
#include <gtest/gtest.h>

#include <cstring>

#include "win/addin_dll.h"
#include "win/image_section.h"
#include "win/roles.h"

namespace wintest {
namespace {

bool MutexExists(const char* name) {
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, name);
    if (mutex == nullptr) return false;
    ::CloseHandle(mutex);
    return true;
}

bool AllZero(const void* bytes, std::size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i)
        if (p[i] != 0) return false;
    return true;
}

// Runs addin->GetDetectorCount(nMcb) on a thread of its own.
class CountCall {
public:
    CountCall(LocalAddin* addin, int nMcb) : addin_(addin), nMcb_(nMcb) {
        thread_ = ::CreateThread(nullptr, 0, &CountCall::Run, this, 0, nullptr);
    }
    ~CountCall() {
        if (!Finished(0)) ::TerminateThread(thread_, 1);  // a failed test only
        ::CloseHandle(thread_);
    }
    bool Finished(DWORD ms) { return ::WaitForSingleObject(thread_, ms) == WAIT_OBJECT_0; }
    std::int32_t Result() const { return result_; }

private:
    static DWORD WINAPI Run(void* self) {
        auto call = static_cast<CountCall*>(self);
        call->result_ = call->addin_->GetDetectorCount(call->nMcb_);
        return 0;
    }
    LocalAddin* addin_;
    int nMcb_;
    std::int32_t result_ = -1;
    HANDLE thread_;
};

TEST(AddinDll, LoadingCreatesTheNamedMutexAndUnloadingClosesIt) {
    ASSERT_FALSE(MutexExists(kAddinMutexName)) << "another process has the add-in loaded";
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    EXPECT_EQ(addin->nFirstMcb, 9);
    EXPECT_STREQ(addin->szNameTag, "KS");
    EXPECT_TRUE(MutexExists(kAddinMutexName));
    addin.Unload();
    EXPECT_FALSE(MutexExists(kAddinMutexName));
}

TEST(AddinDll, SharedBlockIsZeroAtFirstLoadAndInTheDllsSharedSection) {
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    EXPECT_EQ(addin.SystemOpenCount(), 0);
    EXPECT_TRUE(AllZero(addin->pMcbTable, sizeof(McbRecord) * MCB_COUNT));

    for (const void* pShared : {static_cast<const void*>(addin->pnSystemOpenCount),
                                static_cast<const void*>(addin->pMcbTable + MCB_COUNT - 1)}) {
        ImageSection section = SectionOf(pShared);
        ASSERT_TRUE(section.found);
        EXPECT_NE(section.module, ::GetModuleHandleA(nullptr)) << "not the DLL's own block";
        EXPECT_NE(section.characteristics & IMAGE_SCN_MEM_SHARED, 0u) << section.name;
    }
}

TEST(AddinDll, BlockStartsFromZeroAgainAfterTheLastProcessUnloads) {
    {
        AddinDll addin;
        ASSERT_TRUE(addin.Loaded());
        addin.Record(kPeerMcb).dwDetectorWord[kParentWord] = 0xABCD;
    }
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    EXPECT_EQ(addin.Record(kPeerMcb).dwDetectorWord[kParentWord], 0u);
}

TEST(AddinDll, SecondProcessSharesTheOpenCountAndTheTable) {
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    ASSERT_TRUE(addin->Open());
    ASSERT_EQ(addin.SystemOpenCount(), 1);
    // No port driver under test: the start-up found no MCB.
    EXPECT_EQ(addin->GetDetectorCount(9), 0);

    const std::uint32_t dwMarker = 0x5EC0DE;
    std::uint32_t* pdwWords = addin.Record(kPeerMcb).dwDetectorWord;
    std::memset(pdwWords, 0, sizeof(std::uint32_t) * MAX_DETECTORS);
    pdwWords[kParentWord] = dwMarker;

    ChildProcess child("addin-peer", {});
    ASSERT_TRUE(child.Started());
    DWORD exitCode = 1;
    ASSERT_TRUE(child.Wait(60000, &exitCode));
    ASSERT_EQ(exitCode, 0u) << "the child could not load the add-in";

    EXPECT_EQ(pdwWords[kReportMarker], dwMarker);
    EXPECT_EQ(pdwWords[kReportCountAtLoad], 1u);
    EXPECT_EQ(pdwWords[kReportCountAfterOpen], 2u);
    EXPECT_EQ(pdwWords[kReportCountAfterClose], 1u);
    EXPECT_EQ(addin.SystemOpenCount(), 1);

    EXPECT_TRUE(addin->Close());
    EXPECT_EQ(addin.SystemOpenCount(), 0);
}

TEST(AddinDll, OperationWaitsForAnotherProcessAndGoesOnWhenThatOneIsKilled) {
    ReadyEvent ready;
    ChildProcess child("addin-hold-mutex", {ready.Name()});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(ready.Wait(30000)) << "the child did not take the add-in's mutex";

    AddinDll addin;
    ASSERT_TRUE(addin.Loaded());
    CountCall call(addin.operator->(), 9);
    EXPECT_FALSE(call.Finished(300)) << "the operation ran while another process held the mutex";

    child.Kill();
    ASSERT_TRUE(call.Finished(20000)) << "the abandoned mutex blocks the add-in";
    EXPECT_EQ(call.Result(), 0);
    // The abandoned mutex was taken and given back: the next call runs too.
    CountCall again(addin.operator->(), 9);
    EXPECT_TRUE(again.Finished(20000));
}

}  // namespace
}  // namespace wintest

// The shared block: a section of the image marked shared, one copy for
// every process that maps the image.
#include <gtest/gtest.h>

#include "addin/shared_state.h"
#include "win/child.h"
#include "win/image_section.h"
#include "win/roles.h"

namespace wintest {
namespace {

TEST(Win32SharedBlock, LiesInAWritableSharedSectionOfItsImage) {
    SharedState* pShared = platform::NativeOs().Shared();
    ASSERT_NE(pShared, nullptr);
    ImageSection section = SectionOf(pShared);
    ASSERT_TRUE(section.found);
    EXPECT_EQ(section.module, ::GetModuleHandleA(nullptr));
    EXPECT_EQ(section.name, ".kshared");
    EXPECT_NE(section.characteristics & IMAGE_SCN_MEM_SHARED, 0u);
    EXPECT_NE(section.characteristics & IMAGE_SCN_MEM_WRITE, 0u);
    // The whole block is in that section, not only its start.
    EXPECT_EQ(SectionOf(reinterpret_cast<const char*>(pShared + 1) - 1).name, ".kshared");
}

TEST(Win32SharedBlock, AnotherProcessOfTheSameImageSharesIt) {
    McbRecord& record = platform::NativeOs().Shared()->records[kPeerRecord];
    const std::uint32_t dwValue = (::GetTickCount() & 0xFFFFFF) | 0x1000000;
    record.dwDetectorWord[kParentWord] = dwValue;
    record.dwDetectorWord[kChildWord] = 0;

    ChildProcess child("shared-peer", {std::to_string(dwValue)});
    ASSERT_TRUE(child.Started());
    DWORD exitCode = 1;
    ASSERT_TRUE(child.Wait(30000, &exitCode));
    EXPECT_EQ(exitCode, 0u) << "the child did not see this process's value";
    EXPECT_EQ(record.dwDetectorWord[kChildWord], dwValue + 1)
        << "this process did not see the child's answer";
}

}  // namespace
}  // namespace wintest

// The interface table is a binary contract: every operation at its slot.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "addin/kestrel.h"
#include "support/fake_os.h"

namespace {

// With the Itanium C++ ABI (GCC on Linux and mingw alike), a pointer to a
// virtual member function holds 1 + the byte offset of its slot.
template <typename F>
std::ptrdiff_t SlotOf(F member) {
    struct Raw {
        std::ptrdiff_t ptr;
        std::ptrdiff_t adj;
    } raw;
    static_assert(sizeof(F) == sizeof(Raw), "unexpected member pointer size");
    std::memcpy(&raw, &member, sizeof raw);
    return (raw.ptr - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(Slots, EveryOperationAtItsFixedPosition) {
    EXPECT_EQ(SlotOf(&LocalAddin::Open), 0);
    EXPECT_EQ(SlotOf(&LocalAddin::Close), 1);
    EXPECT_EQ(SlotOf(&LocalAddin::SetDebugLevel), 2);
    EXPECT_EQ(SlotOf(&LocalAddin::IsValidDetector), 3);
    EXPECT_EQ(SlotOf(&LocalAddin::SendCommand), 4);
    EXPECT_EQ(SlotOf(&LocalAddin::InitDetectors), 5);
    EXPECT_EQ(SlotOf(&LocalAddin::InvalidateMcb), 6);
    EXPECT_EQ(SlotOf(&LocalAddin::GetLock), 7);
    EXPECT_EQ(SlotOf(&LocalAddin::SetLock), 8);
    EXPECT_EQ(SlotOf(&LocalAddin::GetDetectorWord), 9);
    EXPECT_EQ(SlotOf(&LocalAddin::SetDetectorWord), 10);
    EXPECT_EQ(SlotOf(&LocalAddin::GetMcbVersion), 11);
    EXPECT_EQ(SlotOf(&LocalAddin::GetDetectorChannels), 12);
    EXPECT_EQ(SlotOf(&LocalAddin::GetDetectorCount), 13);
    EXPECT_EQ(SlotOf(&LocalAddin::GetAppData), 14);
    EXPECT_EQ(SlotOf(&LocalAddin::SetAppData), 15);
    EXPECT_EQ(SlotOf(&LocalAddin::LocalGetStartTime), 16);
    EXPECT_EQ(SlotOf(&LocalAddin::SetStartTime), 17);
    EXPECT_EQ(SlotOf(&LocalAddin::GetDescription), 18);
    EXPECT_EQ(SlotOf(&LocalAddin::GetDetectorId), 19);
    EXPECT_EQ(SlotOf(&LocalAddin::SetROI), 20);
    EXPECT_EQ(SlotOf(&LocalAddin::ClearROI), 21);
    EXPECT_EQ(SlotOf(&LocalAddin::GetData), 22);
    EXPECT_EQ(SlotOf(&LocalAddin::SetData), 23);
    EXPECT_EQ(SlotOf(&LocalAddin::IsActive), 24);
    EXPECT_EQ(SlotOf(&LocalAddin::GetFeatures), 25);
    EXPECT_EQ(SlotOf(&LocalAddin::DeletingDestructor), 26);
    EXPECT_EQ(SlotOf(&LocalAddin::RefreshLocks), 27);
    EXPECT_EQ(SlotOf(&LocalAddin::ProcessStartup), 28);
    EXPECT_EQ(SlotOf(&LocalAddin::ProcessShutdown), 29);
    EXPECT_EQ(SlotOf(&LocalAddin::BeforeFirstStartup), 30);
    EXPECT_EQ(SlotOf(&LocalAddin::AfterLastShutdown), 31);
    // Kestrel's overrides land in the base's slots, not in new ones.
    EXPECT_EQ(SlotOf(&Kestrel::IsActive), 24);
    EXPECT_EQ(SlotOf(&Kestrel::ProcessShutdown), 29);
}

// Calls through the raw table, as the host does, reach the right code.
TEST(Slots, RawTableCallsReachTheOperations) {
    fake::FakeOs os;
    fake::Installed installed(os);
    Kestrel addin;
    void** table = *reinterpret_cast<void***>(&addin);
    using SetLevel = std::int32_t (*)(LocalAddin*, std::int32_t);
    using Count = std::int32_t (*)(LocalAddin*, std::int32_t);
    reinterpret_cast<SetLevel>(table[2])(&addin, 3);
    EXPECT_EQ(reinterpret_cast<SetLevel>(table[2])(&addin, -1), 3);
    os.shared.records[0].nMailboxType = 5;
    os.shared.records[0].nDetectors = 7;
    EXPECT_EQ(reinterpret_cast<Count>(table[13])(&addin, 9), 7);
}

TEST(Slots, FieldsFollowTheTablePointerInOrder) {
    fake::FakeOs os;
    fake::Installed installed(os);
    Kestrel addin;
    auto offset = [&](const void* field) {
        return static_cast<const char*>(field) - reinterpret_cast<const char*>(&addin);
    };
    const std::ptrdiff_t p = sizeof(void*);
    EXPECT_EQ(offset(&addin.nFirstMcb), p);
    EXPECT_EQ(offset(&addin.nMcbCount), p + 4);
    EXPECT_EQ(offset(&addin.dwFixed), p + 8);
    EXPECT_EQ(offset(&addin.mutex), p == 4 ? 16 : 24);
    EXPECT_EQ(offset(&addin.pMcbTable), offset(&addin.mutex) + p);
    EXPECT_EQ(offset(&addin.szNameTag), offset(&addin.pMcbTable) + p);
    EXPECT_EQ(offset(&addin.pnSystemOpenCount), offset(&addin.szNameTag) + 16);
    EXPECT_EQ(addin.nFirstMcb, 9);
    EXPECT_EQ(addin.nMcbCount, 8);
    EXPECT_EQ(addin.dwFixed, 1u);
    EXPECT_STREQ(addin.szNameTag, "KS");
    EXPECT_EQ(addin.pMcbTable, os.shared.records);
    EXPECT_EQ(addin.pnSystemOpenCount, &os.shared.nSystemOpenCount);
    EXPECT_EQ(os.mutexName, "UADDVELDAMUTEXKS");
}

}  // namespace

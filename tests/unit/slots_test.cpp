// The interface table and the fields after it are a binary contract.
#include <gtest/gtest.h>

#include <cstring>

#include "addin/kestrel.h"
#include "support/fake_os.h"

namespace {

// With the Itanium C++ ABI (GCC on Linux and mingw alike), a pointer to a
// virtual member function holds 1 + the byte offset of its slot.
template <typename F>
std::ptrdiff_t SlotOf(F member) {
    std::ptrdiff_t raw[2];
    static_assert(sizeof(F) == sizeof raw, "unexpected member pointer size");
    std::memcpy(raw, &member, sizeof raw);
    return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(Slots, EveryOperationAtItsFixedPositionAndTheFieldsInOrder) {
    const std::ptrdiff_t slots[] = {
        SlotOf(&LocalAddin::Open), SlotOf(&LocalAddin::Close), SlotOf(&LocalAddin::SetDebugLevel),
        SlotOf(&LocalAddin::IsValidDetector), SlotOf(&LocalAddin::SendCommand), SlotOf(&LocalAddin::InitDetectors),
        SlotOf(&LocalAddin::InvalidateMcb), SlotOf(&LocalAddin::GetLock), SlotOf(&LocalAddin::SetLock),
        SlotOf(&LocalAddin::GetDetectorWord), SlotOf(&LocalAddin::SetDetectorWord), SlotOf(&LocalAddin::GetMcbVersion),
        SlotOf(&LocalAddin::GetDetectorChannels), SlotOf(&LocalAddin::GetDetectorCount), SlotOf(&LocalAddin::GetAppData),
        SlotOf(&LocalAddin::SetAppData), SlotOf(&LocalAddin::LocalGetStartTime), SlotOf(&LocalAddin::SetStartTime),
        SlotOf(&LocalAddin::GetDescription), SlotOf(&LocalAddin::GetDetectorId), SlotOf(&LocalAddin::SetROI),
        SlotOf(&LocalAddin::ClearROI), SlotOf(&LocalAddin::GetData), SlotOf(&LocalAddin::SetData),
        SlotOf(&LocalAddin::IsActive), SlotOf(&LocalAddin::GetFeatures), SlotOf(&LocalAddin::DeletingDestructor),
        SlotOf(&LocalAddin::RefreshLocks), SlotOf(&LocalAddin::ProcessStartup), SlotOf(&LocalAddin::ProcessShutdown),
        SlotOf(&LocalAddin::BeforeFirstStartup), SlotOf(&LocalAddin::AfterLastShutdown)};
    for (std::ptrdiff_t i = 0; i < 32; ++i) EXPECT_EQ(slots[i], i);
    // Kestrel's overrides land in the base's slots, not in new ones.
    EXPECT_EQ(SlotOf(&Kestrel::IsActive), 24);
    EXPECT_EQ(SlotOf(&Kestrel::ProcessShutdown), 29);

    fake::FakeOs os;
    fake::Installed installed(os);
    Kestrel addin;
    const char* base = reinterpret_cast<const char*>(&addin);
    const std::ptrdiff_t p = sizeof(void*);
    EXPECT_EQ(reinterpret_cast<const char*>(&addin.nFirstMcb) - base, p);
    EXPECT_EQ(reinterpret_cast<const char*>(&addin.dwFixed) - base, p + 8);
    EXPECT_EQ(addin.dwFixed, 1u);  // the host's to read: nothing in the add-in would notice another value
    EXPECT_EQ(reinterpret_cast<const char*>(&addin.pMcbTable) - base, (p == 4 ? 16 : 24) + p);
    EXPECT_EQ(reinterpret_cast<const char*>(&addin.pnSystemOpenCount) - base, (p == 4 ? 16 : 24) + 2 * p + 16);
    // Through the raw table, as the host calls.
#if defined(__i386__)
    using Count = std::int32_t(__attribute__((thiscall)) *)(LocalAddin*, std::int32_t);  // `this` in ECX
#else
    using Count = std::int32_t (*)(LocalAddin*, std::int32_t);
#endif
    os.shared.records[0].nMailboxType = 5;
    os.shared.records[0].nDetectors = 7;
    EXPECT_EQ(reinterpret_cast<Count>((*reinterpret_cast<void***>(&addin))[13])(&addin, 9), 7);
}

}  // namespace

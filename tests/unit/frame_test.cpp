// The add-in object's frame: the mutex across threads and its failures, the trace buffer, the deleting
// destructor. (Open counts, hooks and every operation's release of the mutex are in the scenarios.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "addin/kestrel.h"
#include "addin/trace.h"
#include "support/fake_os.h"

namespace {

class Frame : public ::testing::Test {
protected:
    fake::FakeOs os;
    fake::Installed installed{os};
};

TEST_F(Frame, TheMutexExcludesAnotherThreadWhileHeld) {
    Kestrel addin;
    std::atomic<bool> entered{false};
    std::thread other;
    {
        TMutexAccess outer(addin.mutex);
        TMutexAccess inner(addin.mutex);  // re-entrant for this thread
        other = std::thread([&] {
            TMutexAccess access(addin.mutex);
            entered = true;
        });
        // Only once the other thread waits does its absence say anything.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (os.mutexWaiters.load() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        ASSERT_EQ(os.mutexWaiters.load(), 1) << "the other thread never waited for the mutex";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(entered.load());
    }
    other.join();
    EXPECT_TRUE(entered.load());
    EXPECT_EQ(os.mutexAcquisitions, os.mutexReleases);
}

TEST_F(Frame, WithoutAMutexOperationsStillRunAndSaySo) {
    os.failMutexCreate = true;
    Kestrel addin;
    EXPECT_EQ(os.TraceText(), "*** TAutoMutex \"UADDVELDAMUTEXKS\" Create Failed ***\r\n");
    os.ClearTrace();
    os.shared.records[0].nMailboxType = 5;
    os.shared.records[0].nDetectors = 2;
    EXPECT_EQ(addin.GetDetectorCount(9), 2);
    // The table operation and its nested validation each wait once.
    EXPECT_EQ(os.CountTrace("*** TMutexAccess Wait Failed ***\r\n"), 2);
    EXPECT_EQ(os.mutexReleases, 0);
}

TEST_F(Frame, TraceIsCutToItsBufferAndLevelsNeverGoNegative) {
    Kestrel addin;
    DebugTrace(0, "%s", std::string(400, 'x').c_str());
    EXPECT_EQ(os.trace.back(), std::string(255, 'x'));
    EXPECT_EQ(addin.SetDebugLevel(3), 0);
    EXPECT_EQ(addin.SetDebugLevel(-1), 3);
    EXPECT_EQ(addin.SetDebugLevel(0), 3);
}

TEST_F(Frame, DeletingDestructorClosesTheMutexOnceAndFreesOnlyWithBitZero) {
    auto* addin = new Kestrel;
    EXPECT_EQ(addin->DeletingDestructor(1), addin);  // freed: the sanitizers see a leak or a double free
    EXPECT_EQ(os.mutexCloses, 1);
    alignas(Kestrel) unsigned char storage[sizeof(Kestrel)];
    auto* placed = new (storage) Kestrel;
    EXPECT_EQ(placed->DeletingDestructor(0), placed);
    EXPECT_EQ(os.mutexCloses, 2);
}

}  // namespace

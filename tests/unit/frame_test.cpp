// Attach counting, hooks, the mutex discipline and the trace rules.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "addin/kestrel.h"
#include "addin/process_state.h"
#include "addin/trace.h"
#include "support/fake_os.h"

namespace {

class RecordingAddin : public Kestrel {
public:
    std::vector<std::string> calls;
    void ProcessStartup(std::uint32_t bFirst) override { calls.push_back("startup " + std::to_string(bFirst)); }
    void ProcessShutdown(std::uint32_t bLast) override { calls.push_back("shutdown " + std::to_string(bLast)); }
    void BeforeFirstStartup() override { calls.push_back("before first"); }
    void AfterLastShutdown() override { calls.push_back("after last"); }
};

class Frame : public ::testing::Test {
protected:
    fake::FakeOs os;
    fake::Installed installed{os};
};

TEST_F(Frame, OneProcessOpensTwiceAndClosesTwice) {
    RecordingAddin addin;
    EXPECT_TRUE(addin.Open());
    EXPECT_EQ(addin.calls, (std::vector<std::string>{"before first", "startup 1"}));
    EXPECT_EQ(Process().nProcessOpenCount, 1);
    EXPECT_EQ(os.shared.nSystemOpenCount, 1);
    EXPECT_TRUE(addin.Open());
    EXPECT_EQ(addin.calls.size(), 2u);
    EXPECT_EQ(Process().nProcessOpenCount, 2);
    EXPECT_TRUE(addin.Close());
    EXPECT_EQ(addin.calls.size(), 2u);
    EXPECT_EQ(Process().nProcessOpenCount, 1);
    EXPECT_TRUE(addin.Close());
    EXPECT_EQ(addin.calls, (std::vector<std::string>{"before first", "startup 1", "shutdown 1", "after last"}));
    EXPECT_EQ(Process().nProcessOpenCount, 0);
    EXPECT_EQ(os.shared.nSystemOpenCount, 0);
    EXPECT_EQ(os.mutexDepth(), 0);
}

TEST_F(Frame, ASecondProcessJoinsAndLeavesWithoutTheSystemHooks) {
    os.shared.nSystemOpenCount = 1;  // another process has the add-in open
    RecordingAddin addin;
    addin.Open();
    EXPECT_EQ(os.shared.nSystemOpenCount, 2);
    addin.Close();
    EXPECT_EQ(addin.calls, (std::vector<std::string>{"startup 0", "shutdown 0"}));
    EXPECT_EQ(os.shared.nSystemOpenCount, 1);
}

TEST_F(Frame, DebugLevelReturnsThePreviousAndIgnoresNegatives) {
    Kestrel addin;
    EXPECT_EQ(addin.SetDebugLevel(0), 0);
    EXPECT_EQ(addin.SetDebugLevel(3), 0);
    EXPECT_EQ(addin.SetDebugLevel(-1), 3);
    EXPECT_EQ(addin.SetDebugLevel(-7), 3);
    EXPECT_EQ(Process().nDebugLevel, 3);
}

TEST_F(Frame, TraceLevelsGateMessages) {
    DebugTrace(0, "zero\r\n");
    DebugTrace(1, "one\r\n");
    DebugTraceOn("on\r\n");
    EXPECT_EQ(os.trace, (std::vector<std::string>{"zero\r\n"}));
    os.ClearTrace();
    Process().nDebugLevel = 1;
    DebugTrace(1, "one\r\n");
    DebugTraceOn("on\r\n");
    DebugTrace(3, "three\r\n");
    EXPECT_EQ(os.trace, (std::vector<std::string>{"one\r\n", "on\r\n"}));
    os.ClearTrace();
    DebugTrace(0, "found bad %%.\r\n");
    EXPECT_EQ(os.trace.back(), "found bad %.\r\n");
}

TEST_F(Frame, LongTraceMessagesAreCutToTheBuffer) {
    std::string longText(400, 'x');
    DebugTrace(0, "%s", longText.c_str());
    ASSERT_EQ(os.trace.size(), 1u);
    EXPECT_EQ(os.trace[0], std::string(255, 'x'));
}

TEST_F(Frame, FormatLastErrorGivesOneLineOrNothing) {
    char buffer[64] = "untouched";
    os.SetLastError(2);
    EXPECT_STREQ(FormatLastError(buffer, sizeof buffer), "The system cannot find the file specified.");
    os.SetLastError(123456);
    EXPECT_STREQ(FormatLastError(buffer, sizeof buffer), "");
    char untouched[4] = "abc";
    FormatLastError(untouched, 0);
    EXPECT_STREQ(untouched, "abc");
}

TEST_F(Frame, MutexCreationFailureIsReportedAndOperationsStillRun) {
    os.failMutexCreate = true;
    Kestrel addin;
    EXPECT_EQ(os.TraceText(), "*** TAutoMutex \"UADDVELDAMUTEXKS\" Create Failed ***\r\n");
    EXPECT_EQ(os.trace.size(), 3u);
    os.ClearTrace();
    EXPECT_EQ(addin.GetDetectorCount(9), 0);
    // The table operation and its nested validation each wait once.
    EXPECT_EQ(os.CountTrace("*** TMutexAccess Wait Failed ***\r\n"), 2);
    EXPECT_EQ(os.mutexReleases, 0);
}

TEST_F(Frame, WithoutAMutexOpenAndCloseStillCountAndWriteNoWaitFailure) {
    os.failMutexCreate = true;
    RecordingAddin addin;
    os.ClearTrace();
    EXPECT_TRUE(addin.Open());
    EXPECT_TRUE(addin.Close());
    EXPECT_EQ(addin.calls, (std::vector<std::string>{"before first", "startup 1", "shutdown 1", "after last"}));
    EXPECT_EQ(os.shared.nSystemOpenCount, 0);
    EXPECT_TRUE(os.trace.empty());
    // RefreshLocks is not a locked operation either.
    addin.RefreshLocks();
    EXPECT_TRUE(os.trace.empty());
}

TEST_F(Frame, AFailedWaitOnARealHandleStillRunsTheOperation) {
    Kestrel addin;
    os.shared.records[0].nMailboxType = 5;
    os.shared.records[0].nDetectors = 2;
    os.failMutexWait = true;
    EXPECT_EQ(addin.GetDetectorCount(9), 2);
    EXPECT_EQ(os.CountTrace("*** TMutexAccess Wait Failed ***\r\n"), 2);
}

TEST_F(Frame, EveryOperationReleasesWhatItTook) {
    Kestrel addin;
    char text[16];
    std::uint32_t words[4];
    bool flag = false;
    std::uint32_t id = 0;
    addin.GetDetectorCount(9);
    addin.GetFeatures(9, 1, words, 4);
    addin.GetMcbVersion(9, text, sizeof text);
    addin.GetLock(9, 1, text, sizeof text);
    addin.GetDescription(9, 1, text, sizeof text, &flag);
    addin.GetDetectorId(9, 1, &id, &flag);
    addin.SetLock(9, 1, 5, "x");
    addin.InvalidateMcb(9);
    addin.IsActive(9, 1, nullptr);
    addin.LocalGetStartTime(9, 1, nullptr);
    EXPECT_GT(os.mutexAcquisitions, 10);
    EXPECT_EQ(os.mutexAcquisitions, os.mutexReleases);
    EXPECT_EQ(os.mutexDepth(), 0);
}

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
        // Only once the other thread is waiting for the mutex does its
        // absence from it say anything.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (os.mutexWaiters.load() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_EQ(os.mutexWaiters.load(), 1) << "the other thread never waited for the mutex";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(entered.load());
    }
    other.join();
    EXPECT_TRUE(entered.load());
}

TEST_F(Frame, DeletingDestructorClosesTheMutexOnceAndFreesOnlyWithBitZero) {
    auto* addin = new Kestrel;
    EXPECT_EQ(addin->DeletingDestructor(1), addin);  // freed; sanitizers catch a leak or double free
    EXPECT_EQ(os.mutexCloses, 1);
    alignas(Kestrel) unsigned char storage[sizeof(Kestrel)];
    auto* placed = new (storage) Kestrel;
    ASSERT_NE(placed->mutex.Handle(), nullptr);
    EXPECT_EQ(placed->DeletingDestructor(0), placed);
    EXPECT_EQ(os.mutexCloses, 2);
}

}  // namespace

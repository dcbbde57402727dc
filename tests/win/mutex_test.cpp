// The named mutex: re-entrant for its owner, exclusive between threads and
// processes, and acquired (as abandoned) when its owner dies holding it.
#include <gtest/gtest.h>

#include <thread>

#include "win/child.h"

namespace wintest {
namespace {

// Tries to take the mutex from a thread of its own within `ms`, releasing it
// again if taken; the wait's result.
DWORD TryFromOtherThread(platform::MutexHandle mutex, DWORD ms) {
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        result = ::WaitForSingleObject(mutex, ms);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ::ReleaseMutex(mutex);
    });
    other.join();
    return result;
}

class Win32Mutex : public ::testing::Test {
protected:
    void TearDown() override {
        for (platform::MutexHandle handle : handles_) os_.MutexClose(handle);
    }
    platform::MutexHandle Create(const std::string& name) {
        platform::MutexHandle handle = os_.MutexCreate(name.c_str());
        if (handle) handles_.push_back(handle);
        return handle;
    }

    platform::Os& os_ = platform::NativeOs();
    std::string name_ = UniqueName("KestrelTestMutex");
    std::vector<platform::MutexHandle> handles_;
};

TEST_F(Win32Mutex, OwnerReentersAndOthersWaitUntilEveryHoldIsReleased) {
    platform::MutexHandle mutex = Create(name_);
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(os_.MutexWait(mutex), platform::WaitResult::Acquired);
    ASSERT_EQ(os_.MutexWait(mutex), platform::WaitResult::Acquired);
    EXPECT_EQ(TryFromOtherThread(mutex, 50), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_TRUE(os_.MutexRelease(mutex));
    EXPECT_EQ(TryFromOtherThread(mutex, 50), static_cast<DWORD>(WAIT_TIMEOUT))
        << "one release of two holds must keep the mutex";

    EXPECT_TRUE(os_.MutexRelease(mutex));
    EXPECT_EQ(TryFromOtherThread(mutex, 1000), WAIT_OBJECT_0);
    EXPECT_FALSE(os_.MutexRelease(mutex)) << "released more often than taken";
}

TEST_F(Win32Mutex, SameNameOpensTheSameMutexAnotherNameDoesNot) {
    platform::MutexHandle first = Create(name_);
    platform::MutexHandle second = Create(name_);
    platform::MutexHandle other = Create(name_ + "_other");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(first, second);

    ASSERT_EQ(os_.MutexWait(first), platform::WaitResult::Acquired);
    EXPECT_EQ(TryFromOtherThread(second, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(TryFromOtherThread(other, 1000), WAIT_OBJECT_0);
    // The owner may release through either handle of the same mutex.
    EXPECT_TRUE(os_.MutexRelease(second));
    EXPECT_EQ(TryFromOtherThread(first, 1000), WAIT_OBJECT_0);
}

TEST_F(Win32Mutex, CreationFailsWhenTheNameBelongsToAnotherKindOfObject) {
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, name_.c_str());
    ASSERT_NE(event, nullptr);
    os_.SetLastError(0);
    EXPECT_EQ(Create(name_), nullptr);
    EXPECT_EQ(os_.LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
    ::CloseHandle(event);
}

TEST_F(Win32Mutex, WaitOnNoMutexFails) {
    EXPECT_EQ(os_.MutexWait(nullptr), platform::WaitResult::Failed);
}

TEST_F(Win32Mutex, OwnerKilledWhileHoldingLeavesItAbandonedAndAcquired) {
    ReadyEvent ready;
    ChildProcess child("hold-mutex", {name_, ready.Name()});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(ready.Wait(30000)) << "the child did not take the mutex";

    platform::MutexHandle mutex = Create(name_);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(::WaitForSingleObject(mutex, 100), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the child's hold must exclude this process";

    child.Kill();
    EXPECT_EQ(os_.MutexWait(mutex), platform::WaitResult::Abandoned);
    EXPECT_EQ(TryFromOtherThread(mutex, 50), static_cast<DWORD>(WAIT_TIMEOUT))
        << "an abandoned mutex is owned by whoever acquired it";
    EXPECT_TRUE(os_.MutexRelease(mutex));
    EXPECT_EQ(os_.MutexWait(mutex), platform::WaitResult::Acquired);
    EXPECT_TRUE(os_.MutexRelease(mutex));
}

TEST_F(Win32Mutex, OwnerEndingWithoutReleaseLeavesItAbandoned) {
    platform::MutexHandle mutex = Create(name_);
    ASSERT_NE(mutex, nullptr);
    ChildProcess child("exit-holding-mutex", {name_});
    ASSERT_TRUE(child.Started());
    DWORD exitCode = 1;
    ASSERT_TRUE(child.Wait(30000, &exitCode));
    ASSERT_EQ(exitCode, 0u) << "the child did not acquire the mutex";

    EXPECT_EQ(os_.MutexWait(mutex), platform::WaitResult::Abandoned);
    EXPECT_TRUE(os_.MutexRelease(mutex));
}

}  // namespace
}  // namespace wintest

// The named mutex between threads and between real processes: re-entry,
// exclusion, and owners that die holding it.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/named_mutex.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/shared_mapping.h"
#include "posix/child_process.h"
#include "posix/temp_dir.h"

namespace {

using kestrel_test::Child;
using kestrel_test::TempDir;
using platform::MutexHandle;
using platform::WaitResult;
using platform::posix::PosixOs;

constexpr const char* kName = "UADDVELDAMUTEXKS";

// Polls `done` for up to `ms` milliseconds.
bool Eventually(const std::function<bool()>& done, int ms = kestrel_test::kChildTimeoutMs) {
    for (int waited = 0; waited < ms; waited += 2) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

// Ends the whole run with a message when a wait outlives its time: a
// thread stuck in the mutex cannot be taken back, and a hang would stall
// every later test.
class Watchdog {
public:
    explicit Watchdog(const char* what) : what_(what), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> guard(lock_);
        if (!wake_.wait_for(guard, std::chrono::milliseconds(kestrel_test::kChildTimeoutMs),
                            [this] { return done_; })) {
            std::fprintf(stderr, "%s did not end: aborting\n", what_);
            std::abort();
        }
    }

    const char* what_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// A wait in the calling thread (which becomes the owner) that must end.
WaitResult BoundedWait(PosixOs& os, MutexHandle mutex) {
    Watchdog watchdog("mutex wait");
    return os.MutexWait(mutex);
}

// Takes the mutex `arg` times, says so, and waits to be killed or told to
// release everything.
KESTREL_CHILD_ROLE(MutexOwner) {
    platform::Os& os = platform::NativeOs();
    MutexHandle mutex = os.MutexCreate(kName);
    if (mutex == nullptr) return 2;
    int depth = std::atoi(channel.arg().c_str());
    for (int i = 0; i < depth; ++i)
        if (os.MutexWait(mutex) == WaitResult::Failed) return 3;
    channel.Send("held");
    if (!channel.Expect("release")) return 0;
    for (int i = 0; i < depth; ++i)
        if (!os.MutexRelease(mutex)) return 4;
    channel.Send("released");
    channel.Receive();
    return 0;
}

// Waits for the mutex, says how it got it; then takes it again or
// releases it once per order ("take", "release") until the parent goes.
// An argument sets how long it waits at most for a dead owner's exit, in ms.
KESTREL_CHILD_ROLE(MutexWaiter) {
    if (!channel.arg().empty())
        platform::posix::SetDeadOwnerWaitLimit(std::chrono::milliseconds(std::stol(channel.arg())));
    platform::Os& os = platform::NativeOs();
    MutexHandle mutex = os.MutexCreate(kName);
    if (mutex == nullptr) return 2;
    channel.Send("waiting");
    WaitResult result = os.MutexWait(mutex);
    channel.Send(result == WaitResult::Acquired    ? "acquired"
                 : result == WaitResult::Abandoned ? "abandoned"
                                                   : "failed");
    while (true) {
        std::string order = channel.Receive();
        if (order == "release") {
            channel.Send(os.MutexRelease(mutex) ? "released" : "not released");
        } else if (order == "take") {
            channel.Send(os.MutexWait(mutex) == WaitResult::Acquired ? "taken" : "not taken");
        } else {
            return 0;
        }
    }
}

TEST(NamedMutex, ReentrantForItsThreadAndClosedToOthers) {
    TempDir dir;
    PosixOs os(dir.path());
    MutexHandle mine = os.MutexCreate(kName);
    MutexHandle theirs = os.MutexCreate(kName);  // a second handle, same mutex
    ASSERT_NE(mine, nullptr);
    ASSERT_NE(theirs, nullptr);
    for (int depth = 0; depth < 3; ++depth) ASSERT_EQ(os.MutexWait(mine), WaitResult::Acquired);

    std::atomic<bool> acquired{false};
    std::atomic<std::uint32_t> releaseError{0};
    std::thread other([&] {
        if (!os.MutexRelease(theirs)) releaseError = os.LastError();  // not the owner
        if (os.MutexWait(theirs) == WaitResult::Acquired) acquired = true;
        os.MutexRelease(theirs);
    });
    EXPECT_TRUE(Eventually([&] { return releaseError != 0; }));
    EXPECT_EQ(releaseError, 288u);
    ASSERT_TRUE(os.MutexRelease(mine));
    ASSERT_TRUE(os.MutexRelease(mine));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(acquired) << "another thread got in while the owner still held it once";
    ASSERT_TRUE(os.MutexRelease(mine));
    {
        Watchdog watchdog("the waiting thread");
        other.join();
    }
    EXPECT_TRUE(acquired);
    EXPECT_FALSE(os.MutexRelease(mine));  // every acquisition was matched
    os.MutexClose(theirs);
    os.MutexClose(mine);
}

TEST(NamedMutex, NamesAndDirectoriesSeparateMutexes) {
    TempDir dir, otherDir;
    PosixOs os(dir.path()), other(otherDir.path());
    MutexHandle held = os.MutexCreate(kName);
    MutexHandle otherName = os.MutexCreate("UADDVELDAMUTEX/other name");
    MutexHandle otherSystem = other.MutexCreate(kName);
    ASSERT_TRUE(held && otherName && otherSystem);
    ASSERT_EQ(os.MutexWait(held), WaitResult::Acquired);
    std::thread([&] {
        EXPECT_EQ(BoundedWait(os, otherName), WaitResult::Acquired);
        EXPECT_EQ(BoundedWait(other, otherSystem), WaitResult::Acquired);
        os.MutexRelease(otherName);
        other.MutexRelease(otherSystem);
    }).join();
    os.MutexRelease(held);
    for (MutexHandle handle : {held, otherName}) os.MutexClose(handle);
    other.MutexClose(otherSystem);
}

TEST(NamedMutex, ANullHandleFailsEveryOperation) {
    TempDir dir;
    PosixOs os(dir.path());
    EXPECT_EQ(os.MutexWait(nullptr), WaitResult::Failed);
    EXPECT_EQ(os.LastError(), 6u);
    EXPECT_FALSE(os.MutexRelease(nullptr));
    os.MutexClose(nullptr);
    EXPECT_EQ(os.MutexCreate(""), nullptr);
}

TEST(NamedMutexProcesses, AnotherProcessWaitsUntilTheOwnerReleases) {
    TempDir dir;
    PosixOs os(dir.path());
    MutexHandle mutex = os.MutexCreate(kName);
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(os.MutexWait(mutex), WaitResult::Acquired);
    Child waiter("MutexWaiter", dir.path());
    ASSERT_TRUE(waiter.Expect("waiting"));
    EXPECT_EQ(waiter.Receive(100), "") << "the other process got in while we held it";
    ASSERT_TRUE(os.MutexRelease(mutex));
    EXPECT_TRUE(waiter.Expect("acquired"));
    waiter.Send("release");
    EXPECT_TRUE(waiter.Expect("released"));
    os.MutexClose(mutex);
}

// The robust attribute at work: without it, the next owner would wait
// forever for a dead one.
TEST(NamedMutexProcesses, AnOwnerDeadThreeLevelsDeepLeavesItHeldOnceByTheNext) {
    TempDir dir;
    Child owner("MutexOwner", dir.path(), "3");
    ASSERT_TRUE(owner.Expect("held"));
    Child next("MutexWaiter", dir.path());
    ASSERT_TRUE(next.Expect("waiting"));
    EXPECT_EQ(next.Receive(50), "");
    owner.Kill();
    ASSERT_TRUE(next.Expect("abandoned"));
    // The new owner holds it once, not three times: it can nest its own
    // holds on top and give them back, and a second release finds nothing.
    for (int depth = 0; depth < 2; ++depth) {
        next.Send("take");
        ASSERT_TRUE(next.Expect("taken"));
    }
    Child third("MutexWaiter", dir.path());
    ASSERT_TRUE(third.Expect("waiting"));
    for (int depth = 0; depth < 3; ++depth) {
        EXPECT_EQ(third.Receive(20), "") << "let go after " << depth << " of 3 releases";
        next.Send("release");
        ASSERT_TRUE(next.Expect("released"));
    }
    EXPECT_TRUE(third.Expect("acquired"));
    next.Send("release");
    EXPECT_TRUE(next.Expect("not released"));
    // And the third holds an ordinary mutex: one release frees it.
    third.Send("release");
    EXPECT_TRUE(third.Expect("released"));
    Child fourth("MutexWaiter", dir.path());
    ASSERT_TRUE(fourth.Expect("waiting"));
    EXPECT_TRUE(fourth.Expect("acquired"));
}

// The start-up self-check of a new mutex accepts what the add-in needs and
// nothing less: it must fail for each missing attribute, or it proves
// nothing.
bool SelfCheck(bool robust, int type) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    if (robust) pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, type);
    // Not destroyed: a failed check may leave it owned by a dead thread. So
    // each check has a mutex of its own; initialising one over a mutex that
    // is still locked would be undefined (ThreadSanitizer reports it).
    static std::deque<pthread_mutex_t> mutexes;  // elements never move
    pthread_mutex_t* mutex = &mutexes.emplace_back();
    pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    Watchdog watchdog("the self-check");
    return platform::posix::MutexProvesRobustAndRecursive(mutex);
}

TEST(NamedMutex, TheSelfCheckProvesRobustAndRecursiveAndRejectsOtherMutexes) {
    EXPECT_TRUE(SelfCheck(true, PTHREAD_MUTEX_RECURSIVE));
    EXPECT_FALSE(SelfCheck(false, PTHREAD_MUTEX_RECURSIVE)) << "not robust";
    EXPECT_FALSE(SelfCheck(true, PTHREAD_MUTEX_NORMAL)) << "not recursive";
    EXPECT_FALSE(SelfCheck(true, PTHREAD_MUTEX_ERRORCHECK)) << "not recursive";
}

// What the first opener built passes the check in place, in the shared
// block, before anybody else uses it: a second look finds a free,
// consistent, recursive mutex.
TEST(NamedMutex, TheMutexAsBuiltPassesTheSelfCheckAgain) {
    TempDir dir;
    PosixOs os(dir.path());
    MutexHandle mutex = os.MutexCreate(kName);
    ASSERT_NE(mutex, nullptr);
    auto mapping = platform::posix::SharedMapping::Open(
        platform::posix::NamedMutexPath(dir.path(), kName), sizeof(pthread_mutex_t));
    ASSERT_TRUE(mapping);
    {
        Watchdog watchdog("the self-check");
        EXPECT_TRUE(platform::posix::MutexProvesRobustAndRecursive(static_cast<pthread_mutex_t*>(mapping->block())));
    }
    EXPECT_EQ(BoundedWait(os, mutex), WaitResult::Acquired);
    EXPECT_TRUE(os.MutexRelease(mutex));
    os.MutexClose(mutex);
}

TEST(NamedMutexProcesses, AnOrderlyOwnerHandsItOverAcquiredNotAbandoned) {
    TempDir dir;
    Child owner("MutexOwner", dir.path(), "2");
    ASSERT_TRUE(owner.Expect("held"));
    Child next("MutexWaiter", dir.path());
    ASSERT_TRUE(next.Expect("waiting"));
    owner.Send("release");
    ASSERT_TRUE(owner.Expect("released"));
    EXPECT_TRUE(next.Expect("acquired"));
}

}  // namespace

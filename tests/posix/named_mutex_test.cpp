// The named mutex between threads; between processes see tests/multiprocess.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <thread>

#include "platform/posix/named_mutex.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/shared_mapping.h"
#include "multiprocess/harness.h"
#include "posix/temp_dir.h"

namespace {

using platform::WaitResult;
constexpr const char* kName = "UADDVELDAMUTEXKS";

TEST(NamedMutex, ReentrantForItsThreadClosedToOthersAndSeparateByNameAndDirectory) {
    kestrel_test::TempDir dir, otherDir;
    platform::posix::PosixOs os(dir.path()), other(otherDir.path());
    platform::MutexHandle mine = os.MutexCreate(kName), theirs = os.MutexCreate(kName);
    platform::MutexHandle otherName = os.MutexCreate("UADDVELDAMUTEX/x"), otherSystem = other.MutexCreate(kName);
    ASSERT_TRUE(mine && theirs && otherName && otherSystem);
    for (int depth = 0; depth < 3; ++depth) ASSERT_EQ(os.MutexWait(mine), WaitResult::Acquired);
    std::atomic<int> stage{0};
    std::thread thread([&] {
        EXPECT_FALSE(os.MutexRelease(theirs));  // not the owner
        EXPECT_EQ(os.LastError(), 288u);
        EXPECT_EQ(os.MutexWait(otherName), WaitResult::Acquired);
        EXPECT_EQ(other.MutexWait(otherSystem), WaitResult::Acquired);
        stage = static_cast<int>(::gettid());
        EXPECT_EQ(os.MutexWait(theirs), WaitResult::Acquired);
        stage = -1;
        for (platform::MutexHandle handle : {theirs, otherName}) os.MutexRelease(handle);
        other.MutexRelease(otherSystem);
    });
    while (stage == 0) std::this_thread::yield();
    ASSERT_TRUE(os.MutexRelease(mine));
    ASSERT_TRUE(os.MutexRelease(mine));
    const int tid = stage;
    EXPECT_TRUE(kestrel_mp::WaitsInFutex("/proc/self/task/" + std::to_string(tid)));
    EXPECT_EQ(stage, tid) << "another thread got in while the owner still held it once";
    ASSERT_TRUE(os.MutexRelease(mine));
    thread.join();
    EXPECT_FALSE(os.MutexRelease(mine));  // every acquisition was matched
    EXPECT_EQ(os.MutexWait(nullptr), WaitResult::Failed);
    EXPECT_EQ(os.LastError(), 6u);
    EXPECT_FALSE(os.MutexRelease(nullptr));
    EXPECT_EQ(os.MutexCreate(""), nullptr);
    for (platform::MutexHandle handle : {mine, theirs, otherName}) os.MutexClose(handle);
    other.MutexClose(otherSystem);
}

// The self-check of a new mutex must fail for each missing attribute, or it
// proves nothing; and what the first opener built passes it again in place.
TEST(NamedMutex, TheSelfCheckPassesTheMutexAsBuiltAndNoOther) {
    static std::deque<pthread_mutex_t> mutexes;  // never reused: a failed check may leave one held
    const struct { bool robust; int type; bool passes; } cases[] = {{true, PTHREAD_MUTEX_RECURSIVE, true},
        {false, PTHREAD_MUTEX_RECURSIVE, false}, {true, PTHREAD_MUTEX_NORMAL, false},
        {true, PTHREAD_MUTEX_ERRORCHECK, false}};
    for (const auto& c : cases) {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        if (c.robust) pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
        pthread_mutexattr_settype(&attributes, c.type);
        pthread_mutex_init(&mutexes.emplace_back(), &attributes);
        pthread_mutexattr_destroy(&attributes);
        EXPECT_EQ(platform::posix::MutexProvesRobustAndRecursive(&mutexes.back()), c.passes) << c.robust << c.type;
    }
    kestrel_test::TempDir dir;
    platform::posix::PosixOs os(dir.path());
    platform::MutexHandle mutex = os.MutexCreate(kName);
    auto mapping = platform::posix::SharedMapping::Open(platform::posix::NamedMutexPath(dir.path(), kName),
                                                        sizeof(pthread_mutex_t));
    ASSERT_TRUE(mutex && mapping);
    EXPECT_TRUE(platform::posix::MutexProvesRobustAndRecursive(static_cast<pthread_mutex_t*>(mapping->block())));
    EXPECT_EQ(os.MutexWait(mutex), WaitResult::Acquired);
    EXPECT_TRUE(os.MutexRelease(mutex));
    os.MutexClose(mutex);
}

}  // namespace

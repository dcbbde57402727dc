// The self-check of a new named mutex must fail for each missing attribute, or it proves nothing; what the
// first opener built passes it in place. The mutex's contract is in tests/platform, between processes in
// tests/multiprocess.
#include <gtest/gtest.h>

#include <deque>

#include "platform/posix/named_mutex.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/shared_mapping.h"
#include "posix/temp_dir.h"

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
        EXPECT_EQ(platform::posix::MutexProvesRobustAndRecursive(&mutexes.back()), c.passes) << c.robust << c.type;
    }
    kestrel_test::TempDir dir;
    platform::posix::PosixOs os(dir.path());
    platform::MutexHandle mutex = os.MutexCreate("UADDVELDAMUTEXKS");
    std::string why;
    auto mapping = platform::posix::OpenMutexBlock(dir.path(), "UADDVELDAMUTEXKS", &why);
    ASSERT_TRUE(mutex && mapping);
    EXPECT_TRUE(platform::posix::MutexProvesRobustAndRecursive(static_cast<pthread_mutex_t*>(mapping->block())));
    EXPECT_EQ(os.MutexCreate(""), nullptr);
    os.MutexClose(mutex);
}

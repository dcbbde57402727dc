// The shared block: one copy for every process of a Windows directory,
// zero-filled whenever no process holds it, whatever the last holder did.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addin/shared_state.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/shared_mapping.h"
#include "posix/child_process.h"
#include "posix/temp_dir.h"

namespace {

using kestrel_test::Child;
using kestrel_test::TempDir;
using platform::posix::PosixOs;
using platform::posix::SharedMapping;

constexpr std::size_t kBlock = 8192;

bool AllZero(const void* block, std::size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(block);
    for (std::size_t i = 0; i < size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

std::string BlockPath(const std::string& dir) { return dir + "/block"; }

// Maps the block when told to, reports whether it was first and whether it
// found it zero, counts itself in the first word, and holds it until told.
KESTREL_CHILD_ROLE(BlockHolder) {
    if (!channel.Expect("go")) return 2;
    auto mapping = SharedMapping::Open(BlockPath(channel.arg()), kBlock);
    if (!mapping) return 3;
    bool zero = AllZero(static_cast<char*>(mapping->block()) + 4, kBlock - 4);
    __atomic_fetch_add(static_cast<std::uint32_t*>(mapping->block()), 1u, __ATOMIC_SEQ_CST);
    channel.Send(std::string(mapping->first() ? "first" : "second") + (zero ? " zero" : " dirty"));
    channel.Receive();  // until told or orphaned
    return 0;
}

// Fills the block with a pattern and waits to be killed.
KESTREL_CHILD_ROLE(BlockScribbler) {
    auto mapping = SharedMapping::Open(BlockPath(channel.arg()), kBlock);
    if (!mapping) return 3;
    std::memset(mapping->block(), 0x5A, kBlock);
    channel.Send("dirty");
    channel.Receive();
    return 0;
}

// Becomes the first opener and dies half-way through initialising.
KESTREL_CHILD_ROLE(BlockDyingInitialiser) {
    auto mapping = SharedMapping::Open(BlockPath(channel.arg()), kBlock, [&](void* block, std::size_t size) {
        std::memset(block, 0xAB, size / 2);
        channel.Send("initialising");
        channel.Receive();  // killed here
    });
    return 4;
}

// True once `pid` waits for a flock (bounded; false after the time-out).
bool WaitUntilBlockedOnLock(pid_t pid) {
    for (int i = 0; i < 2500; ++i) {
        std::ifstream locks("/proc/locks");
        std::string line;
        while (std::getline(locks, line)) {
            std::istringstream fields(line);
            std::string field;
            bool blocked = false;
            while (fields >> field) {
                if (field == "->") blocked = true;
                if (blocked && field == std::to_string(pid)) return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

TEST(SharedMapping, FirstOpenerFindsZerosAndLaterOnesShareItsBlock) {
    TempDir dir;
    auto first = SharedMapping::Open(BlockPath(dir.path()), kBlock);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->first());
    EXPECT_TRUE(AllZero(first->block(), kBlock));
    std::memset(first->block(), 0x11, kBlock);

    auto second = SharedMapping::Open(BlockPath(dir.path()), kBlock);
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->first());
    EXPECT_EQ(static_cast<unsigned char*>(second->block())[kBlock - 1], 0x11);
    static_cast<unsigned char*>(second->block())[0] = 0x22;
    EXPECT_EQ(static_cast<unsigned char*>(first->block())[0], 0x22);

    // Once the last holder has gone, the next one starts afresh.
    second.reset();
    first.reset();
    auto again = SharedMapping::Open(BlockPath(dir.path()), kBlock);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->first());
    EXPECT_TRUE(AllZero(again->block(), kBlock));
}

TEST(SharedMapping, TheInitialiserRunsForTheFirstOpenerOnly) {
    TempDir dir;
    int runs = 0;
    auto mark = [&](void* block, std::size_t size) {
        ++runs;
        EXPECT_TRUE(AllZero(block, size));
        static_cast<char*>(block)[0] = 'I';
    };
    auto first = SharedMapping::Open(BlockPath(dir.path()), kBlock, mark);
    auto second = SharedMapping::Open(BlockPath(dir.path()), kBlock, mark);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(static_cast<char*>(second->block())[0], 'I');
}

TEST(SharedMapping, ABlockLeftByACrashedProcessIsZeroedForTheNext) {
    TempDir dir;
    {
        Child scribbler("BlockScribbler", dir.path(), dir.path());
        ASSERT_TRUE(scribbler.Expect("dirty"));
        scribbler.Kill();
    }
    auto mapping = SharedMapping::Open(BlockPath(dir.path()), kBlock);
    ASSERT_TRUE(mapping);
    EXPECT_TRUE(mapping->first());
    EXPECT_TRUE(AllZero(mapping->block(), kBlock));
}

TEST(SharedMapping, AFirstOpenerKilledWhileInitialisingHandsOverACleanBlock) {
    TempDir dir;
    Child dying("BlockDyingInitialiser", dir.path(), dir.path());
    ASSERT_TRUE(dying.Expect("initialising"));
    Child waiter("BlockHolder", dir.path(), dir.path());
    waiter.Send("go");
    // The waiter must wait while the block is being built, not map it.
    EXPECT_TRUE(WaitUntilBlockedOnLock(waiter.pid()));
    EXPECT_EQ(waiter.Receive(50), "");
    dying.Kill();
    EXPECT_TRUE(waiter.Expect("first zero"));
    waiter.Send("exit");
    EXPECT_EQ(waiter.Wait(), 0);
}

TEST(SharedMapping, OneFirstOpenerAmongSixteenSimultaneousProcesses) {
    TempDir dir;
    constexpr int kProcesses = 16;
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < kProcesses; ++i)
        children.emplace_back(new Child("BlockHolder", dir.path(), dir.path()));
    for (auto& child : children) child->Send("go");
    int firsts = 0;
    for (auto& child : children) {
        std::string report = child->Receive();
        ASSERT_TRUE(report == "first zero" || report == "second zero")
            << "report \"" << report << "\"\n"
            << child->Log();
        if (report.rfind("first", 0) == 0) ++firsts;
    }
    EXPECT_EQ(firsts, 1);
    // Nobody cleared the block after another had counted itself in.
    auto mine = SharedMapping::Open(BlockPath(dir.path()), kBlock);
    ASSERT_TRUE(mine);
    EXPECT_FALSE(mine->first());
    EXPECT_EQ(*static_cast<std::uint32_t*>(mine->block()), static_cast<std::uint32_t>(kProcesses));
    for (auto& child : children) child->Send("exit");
    for (auto& child : children) EXPECT_EQ(child->Wait(), 0);
}

TEST(PosixSharedState, InstancesOfOneDirectoryShareOneBlockAndOthersDoNot) {
    TempDir dir, otherDir;
    auto one = std::make_unique<PosixOs>(dir.path());
    auto two = std::make_unique<PosixOs>(dir.path());
    PosixOs other(otherDir.path());
    SharedState* a = one->Shared();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, one->Shared());
    EXPECT_TRUE(one->SharedWasFirst());
    EXPECT_FALSE(two->SharedWasFirst());
    EXPECT_TRUE(other.SharedWasFirst());

    a->nSystemOpenCount = 3;
    a->records[7].dwProbeTick = 0xFEEDF00D;
    EXPECT_EQ(two->Shared()->nSystemOpenCount, 3);
    EXPECT_EQ(two->Shared()->records[7].dwProbeTick, 0xFEEDF00Du);
    EXPECT_EQ(other.Shared()->nSystemOpenCount, 0);

    one.reset();
    two.reset();
    PosixOs later(dir.path());
    EXPECT_TRUE(later.SharedWasFirst());
    EXPECT_EQ(later.Shared()->nSystemOpenCount, 0);
    EXPECT_EQ(later.Shared()->records[7].dwProbeTick, 0u);
}

TEST(PosixSharedState, AnUnusableDirectoryStillGivesABlock) {
    TempDir dir;
    kestrel_test::WriteText(dir / "file", "not a directory");
    PosixOs os(dir / "file");
    testing::internal::CaptureStderr();
    SharedState* state = os.Shared();
    std::string said = testing::internal::GetCapturedStderr();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->nSystemOpenCount, 0);
    EXPECT_FALSE(os.SharedWasFirst());
    EXPECT_NE(said.find("shared block"), std::string::npos) << said;
}

}  // namespace

// The shared block and the mutex are built by exactly one first opener, zero-filled whenever nobody holds
// them, whatever the last holder did. Sixteen processes load the add-in at once, over and over, the first
// of them stopped at a step of mapping the block or the mutex (or killed after a random time) and killed;
// between rounds the files are scribbled on, as a crash of the last holder could leave them.
// KESTREL_FIRST_OPENER_ROUNDS sets the number of rounds (default 8).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "addin/kestrel.h"
#include "multiprocess/harness.h"
#include "platform/posix/named_mutex.h"

namespace {

using namespace kestrel_test;
using namespace kestrel_mp;
using platform::posix::SharedMapping;

constexpr int kClients = 15;  // and the victim
constexpr int kIncrements = 200;
// Where the victim stops: a step of mapping a file, or nowhere (killed
// after a random time); the first eight make the default run.
const char* const kStops[] = {"shared.state gate locked", "shared.state cleared", "shared.state initialised",
                              "mutex.UADDVELDAMUTEXKS first", "mutex.UADDVELDAMUTEXKS mapped",
                              "mutex.UADDVELDAMUTEXKS initialised", "", "", "shared.state first",
                              "shared.state mapped", "shared.state shared", "mutex.UADDVELDAMUTEXKS gate locked",
                              "mutex.UADDVELDAMUTEXKS cleared", "mutex.UADDVELDAMUTEXKS shared"};

// Marks in MCB 16's detector words, the count in MCB 15's first one.
std::uint32_t& Mark(SharedState& state, int i) { return state.records[7].dwDetectorWord[i]; }
std::uint32_t& Counter(SharedState& state) { return state.records[6].dwDetectorWord[0]; }

Channel* g_channel;

// Argument "<file> <step>": stops at that step of mapping that file, to be
// killed there; empty: starts up and waits to be killed.
KESTREL_ROLE(StartupVictim) {
    g_channel = &channel;
    if (!channel.arg.empty())
        platform::posix::SetSharedMappingStepHook([](const char* path, const char* step) {
            std::string at = std::string(path) + " " + step, stop = g_channel->arg;
            if (at.size() < stop.size() || at.compare(at.size() - stop.size(), std::string::npos, stop) != 0) return;
            g_channel->Send("at " + stop);
            g_channel->Receive();
            ::_exit(5);
        });
    Kestrel addin;
    addin.Open();
    channel.Send("opened");
    channel.Receive();
    return 0;
}

// Argument: its index. Marks the block, says whether it was first, opens;
// on "go" counts the others' marks and adds to the count under the mutex.
KESTREL_ROLE(StartupClient) {
    int index = std::atoi(channel.arg.c_str());
    Kestrel addin;
    auto& native = static_cast<platform::posix::PosixOs&>(platform::NativeOs());
    SharedState& state = *native.Shared();
    {
        TMutexAccess access(addin.mutex);
        Mark(state, index) = 0xC0DE0000u + static_cast<std::uint32_t>(index);
    }
    channel.Send(native.SharedWasFirst() ? "first" : "second");
    addin.Open();
    if (channel.Receive() != "go") return 2;
    int marks = 0;
    for (int i = 0; i < kIncrements; ++i) {
        TMutexAccess access(addin.mutex);
        if (i == 0)
            for (int j = 0; j < kClients; ++j) marks += Mark(state, j) == 0xC0DE0000u + static_cast<std::uint32_t>(j);
        std::uint32_t value = Counter(state);  // without the mutex this loses counts
        sched_yield();
        Counter(state) = value + 1;
    }
    channel.Send("counted " + std::to_string(marks));
    channel.Receive();
    addin.Close();
    return 0;
}

void Scribble(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    std::string junk(static_cast<std::size_t>(std::max<off_t>(0, ::lseek(fd, 0, SEEK_END))), 'Z');
    EXPECT_EQ(::pwrite(fd, junk.data(), junk.size(), 0), static_cast<ssize_t>(junk.size())) << path;
    ::close(fd);
}

TEST(FirstOpener, SixteenProcessesAtOnceWithTheFirstKilledInItsStartUp) {
    const long rounds = EnvNumber("KESTREL_FIRST_OPENER_ROUNDS", 8);
    TempDir dir;  // no port service: the start-up is the block and the mutex
    const std::string block = platform::posix::SharedBlockPath(dir.path());
    std::mt19937 random(4711);
    for (long round = 0; round < rounds && !HasFailure(); ++round) {
        const std::string arg = kStops[round % 14];
        const bool timed = arg.empty(), onBlock = arg.rfind("shared", 0) == 0;
        std::string where = "round " + std::to_string(round) + " (" + arg + ")";
        auto victim = std::make_unique<Child>("StartupVictim", dir.path(), arg);
        if (!timed) {
            ASSERT_EQ(victim->Receive().rfind("at ", 0), 0u) << where << "\n" << victim->Log();
        }
        std::vector<std::unique_ptr<Child>> clients;
        for (int i = 0; i < kClients; ++i)
            clients.emplace_back(new Child("StartupClient", dir.path(), std::to_string(i)));
        // Killed while the others start: some wait for its start-up.
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + random() % 40000));
        victim->Kill();
        int firsts = 0;
        for (auto& client : clients) {
            std::string said = client->Receive();
            ASSERT_TRUE(said == "first" || said == "second") << where << ": \"" << said << "\"\n" << client->Log();
            firsts += said == "first";
        }
        EXPECT_TRUE(firsts == 1 || (firsts == 0 && (timed || !onBlock))) << where << ": " << firsts << " first openers";
        for (auto& client : clients) client->Send("go");
        for (auto& client : clients)
            EXPECT_EQ(client->Receive(), "counted " + std::to_string(kClients))
                << where << ": a block in use was cleared, or the mutex failed\n" << client->Log();
        {
            std::string why;
            auto mine = platform::posix::OpenSharedBlock(dir.path(), &why);
            ASSERT_TRUE(mine && !mine->first()) << why;
            SharedState& state = *static_cast<SharedState*>(mine->block());
            EXPECT_EQ(Counter(state), static_cast<std::uint32_t>(kClients * kIncrements)) << where;
            EXPECT_TRUE(state.nSystemOpenCount == kClients || (timed && state.nSystemOpenCount == kClients + 1))
                << where << ": open count " << state.nSystemOpenCount;
        }
        for (auto& client : clients) client->Send("exit");
        for (auto& client : clients) EXPECT_EQ(client->Wait(), 0) << where << "\n" << client->Log();
        Scribble(block);
        Scribble(platform::posix::NamedMutexPath(dir.path(), kMutexName.c_str()));
    }
}

}  // namespace

// Sixteen processes loading the add-in at once, over and over, the first of
// them killed somewhere in its start-up: exactly one process zero-fills and
// initialises the shared block and the mutex that the others then use, and
// nobody uses a half-built one. Between rounds the files are scribbled on,
// as a crash of the last holder could leave them.
// KESTREL_FIRST_OPENER_ROUNDS sets the number of rounds (default 24).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addin/kestrel.h"
#include "addin/shared_state.h"
#include "multiprocess/served_system.h"
#include "platform/posix/named_mutex.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/shared_mapping.h"
#include "posix/child_process.h"

namespace {

using namespace kestrel_test;
using platform::posix::SharedMapping;

constexpr int kClients = 15;  // and the victim: sixteen
constexpr int kIncrements = 200;
constexpr std::uint32_t kMarker = 0xC0DE0000;

// Markers in MCB 16's detector words (never probed into: no chain here),
// the counter in MCB 15's first one.
McbRecord& Markers(SharedState& state) { return state.records[7]; }
std::uint32_t& Counter(SharedState& state) { return state.records[6].dwDetectorWord[0]; }

ChildChannel* g_channel = nullptr;
std::string g_pauseFile, g_pauseStep;

void PauseAtStep(const char* path, const char* step) {
    std::string file = path;
    if (g_pauseStep != step || file.size() < g_pauseFile.size() ||
        file.compare(file.size() - g_pauseFile.size(), std::string::npos, g_pauseFile) != 0)
        return;
    g_channel->Send("at " + g_pauseStep);
    g_channel->Receive();  // killed here
    ::_exit(5);
}

// Argument "step <file> <step...>": stops at that step of mapping that file and
// waits to be killed. "time": starts up and waits to be killed.
KESTREL_CHILD_ROLE(StartupVictim) {
    std::istringstream args(channel.arg());
    std::string mode;
    args >> mode;
    if (mode == "step") {
        args >> g_pauseFile;
        std::getline(args >> std::ws, g_pauseStep);
        g_channel = &channel;
        platform::posix::SetSharedMappingStepHook(&PauseAtStep);
    }
    Kestrel addin;
    addin.Open();
    channel.Send("opened");
    channel.Receive();
    addin.Close();
    return 0;
}

// Argument: its index. Loads the add-in, marks the block, says whether it
// was the first opener, opens; on "go" checks every client's mark and
// counts under the mutex; says "counted <marks seen>"; closes on "exit".
KESTREL_CHILD_ROLE(StartupClient) {
    int index = std::atoi(channel.arg().c_str());
    Kestrel addin;
    auto& native = static_cast<platform::posix::PosixOs&>(platform::NativeOs());
    SharedState& state = *native.Shared();
    {
        TMutexAccess access(addin.mutex);
        Markers(state).dwDetectorWord[index] = kMarker | static_cast<std::uint32_t>(index);
    }
    channel.Send(native.SharedWasFirst() ? "first" : "second");
    addin.Open();
    if (!channel.Expect("go")) return 2;
    int marks = 0;
    {
        TMutexAccess access(addin.mutex);
        for (int i = 0; i < kClients; ++i)
            if (Markers(state).dwDetectorWord[i] == (kMarker | static_cast<std::uint32_t>(i))) ++marks;
    }
    for (int i = 0; i < kIncrements; ++i) {
        // Read, yield, write: without the mutex this loses counts.
        TMutexAccess access(addin.mutex);
        std::uint32_t value = Counter(state);
        sched_yield();
        Counter(state) = value + 1;
    }
    channel.Send("counted " + std::to_string(marks));
    channel.Expect("exit");
    addin.Close();
    return 0;
}

void Scribble(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    off_t size = ::lseek(fd, 0, SEEK_END);
    std::vector<char> junk(size > 0 ? static_cast<std::size_t>(size) : 0, 0x5A);
    ssize_t written = ::pwrite(fd, junk.data(), junk.size(), 0);
    (void)written;
    ::close(fd);
}

TEST(FirstOpener, SixteenProcessesAtOnceWithTheFirstKilledInItsStartUp) {
    const long rounds = EnvNumber("KESTREL_FIRST_OPENER_ROUNDS", 24);
    TempDir dir;  // no port service: the start-up is the block and the mutex
    const std::string block = platform::posix::SharedBlockPath(dir.path());
    const std::string mutexFile = platform::posix::NamedMutexPath(dir.path(), "UADDVELDAMUTEXKS");
    const char* const steps[] = {"gate locked", "first", "cleared", "mapped", "initialised", "shared"};
    std::mt19937 random(4711);
    // How long a start-up takes here, so the random kills fall inside one.
    std::int64_t startupNs = 0;
    for (int i = 0; i < 3; ++i) {
        std::int64_t began = MonotonicNs();
        Child alone("StartupVictim", dir.path(), "time");
        ASSERT_TRUE(alone.Expect("opened"));
        startupNs = std::max(startupNs, MonotonicNs() - began);
    }
    int stepRounds = 0, timeRounds = 0, survivorFirsts = 0, victimOpened = 0;
    for (long round = 0; round < rounds && !HasFailure(); ++round) {
        // Even rounds stop the victim at a step of mapping the block or the
        // mutex; odd ones kill it after a random time.
        std::string arg = "time";
        bool onBlock = false;
        if (round % 2 == 0) {
            int k = static_cast<int>((round / 2) % 12);
            onBlock = k < 6;
            arg = "step " + std::string(onBlock ? "shared.state " : "mutex.UADDVELDAMUTEXKS ") + steps[k % 6];
        }
        std::string where = "round " + std::to_string(round) + " (" + arg + ")";
        std::int64_t spawned = MonotonicNs();
        auto victim = std::make_unique<Child>("StartupVictim", dir.path(), arg);
        // The kill comes from a thread, on time, while the others are still
        // being started.
        std::uint64_t delayUs = arg == "time" ? random() % (static_cast<std::uint64_t>(startupNs / 1000) + 1)
                                              : 1000 + random() % 3000;
        std::thread killer;
        if (arg == "time") {
            pid_t pid = victim->pid();
            killer = std::thread([pid, spawned, delayUs] {
                std::int64_t at = spawned + static_cast<std::int64_t>(delayUs) * 1000;
                while (MonotonicNs() < at) std::this_thread::sleep_for(std::chrono::microseconds(50));
                ::kill(pid, SIGKILL);
            });
        }
        if (arg != "time") {
            std::string at = victim->Receive();
            ASSERT_EQ(at.rfind("at ", 0), 0u) << where << ": " << at << "\n" << victim->Log();
            ++stepRounds;
        } else {
            ++timeRounds;
        }
        std::vector<std::unique_ptr<Child>> clients;
        for (int i = 0; i < kClients; ++i)
            clients.emplace_back(new Child("StartupClient", dir.path(), std::to_string(i)));
        if (killer.joinable()) {
            killer.join();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
        }
        victim->Kill();
        int firsts = 0;
        for (auto& client : clients) {
            std::string said = client->Receive(30000);
            ASSERT_TRUE(said == "first" || said == "second") << where << ": \"" << said << "\"\n" << client->Log();
            if (said == "first") ++firsts;
        }
        survivorFirsts += firsts;
        if (arg != "time" && onBlock)
            EXPECT_EQ(firsts, 1) << where << ": the victim died before the block was built";
        else
            EXPECT_LE(firsts, 1) << where;
        for (auto& client : clients) client->Send("go");
        for (auto& client : clients)
            EXPECT_EQ(client->Receive(30000), "counted " + std::to_string(kClients))
                << where << ": a block in use was cleared, or the mutex failed\n" << client->Log();
        {
            auto mine = SharedMapping::Open(block, sizeof(SharedState));
            ASSERT_TRUE(mine);
            EXPECT_FALSE(mine->first());
            SharedState& state = *static_cast<SharedState*>(mine->block());
            EXPECT_EQ(Counter(state), static_cast<std::uint32_t>(kClients * kIncrements)) << where;
            std::int32_t count = state.nSystemOpenCount;
            EXPECT_TRUE(count == kClients || (arg == "time" && count == kClients + 1))
                << where << ": open count " << count;
            if (count == kClients + 1) ++victimOpened;
        }
        for (auto& client : clients) client->Send("exit");
        for (auto& client : clients) EXPECT_EQ(client->Wait(), 0) << where << "\n" << client->Log();
        // What a crash of the last holder could leave behind.
        Scribble(block);
        Scribble(mutexFile);
    }
    std::printf("[ figures  ] first opener: %ld rounds of 16 processes (%d stopped at a mapping step, %d "
                "killed within a start-up time of %.1f ms, %d of those after their Open); %d survivors "
                "built the block\n",
                rounds, stepRounds, timeRounds, startupNs / 1e6, victimOpened, survivorFirsts);
}

}  // namespace

// Eight client processes of two threads each doing random operations on one
// served chain, none or one of them killed every 200 ms (every other time
// the one holding the mutex) and replaced. The others go on within five
// seconds of each kill; no answer was wrong; every request came from the
// holder of the mutex; the table is as the probe left it; the open count
// keeps exactly the processes that opened and never closed.
// KESTREL_SOAK_SECONDS and KESTREL_SOAK_KILLS make the runs longer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <sstream>

#include "multiprocess/harness.h"

namespace {

using namespace kestrel_mp;

constexpr int kClients = 8;

void Soak(long seconds, long kills) {
    ServedSystem system;
    std::vector<std::unique_ptr<Child>> live(kClients);
    int started = 0, killedOpen = 0;
    std::vector<std::string> marker(kClients);
    auto start = [&](int slot) {
        marker[slot] = system / ("opened-" + std::to_string(started));
        live[slot].reset(new Child("Client", system.dir(), marker[slot] + " " + std::to_string(slot) + " " +
                                                              std::to_string(started++)));
    };
    for (int slot = 0; slot < kClients; ++slot) start(slot);
    for (auto& client : live) ASSERT_TRUE(client->Expect("ready"));
    system.Lock();
    const std::string probed9 = system.Probed(9), probed12 = system.Probed(12);
    system.Unlock();
    ASSERT_NE(probed12.rfind("4 type", 0), std::string::npos) << probed12;

    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::mt19937 random(20240607);
    for (long k = 0; k < kills && !::testing::Test::HasFailure(); ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        int slot = static_cast<int>(random() % kClients);
        for (int s = 0; s < kClients && k % 2 == 1; ++s)
            if (live[s]->pid() == system.HolderPid()) slot = s;
        const std::uint64_t before = system.AllRequests();
        live[slot]->Kill();
        killedOpen += ::access(marker[slot].c_str(), F_OK) == 0;
        start(slot);
        auto killed = std::chrono::steady_clock::now();
        while (system.AllRequests() == before && std::chrono::steady_clock::now() - killed < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_NE(system.AllRequests(), before) << "nobody went on within 5 s of kill " << k + 1;
    }

    std::uint64_t operations = 0;
    for (auto& client : live) {
        client->Send("stop");
        std::string line, word;
        while ((line = client->Receive()) == "ready") {
        }
        std::istringstream said(line);
        std::uint64_t ops = 0, errors = 0;
        said >> word >> ops >> errors;
        EXPECT_TRUE(word == "stopped" && errors == 0) << line << "\n" << client->Log();
        operations += ops;
        client->Send("exit");
        EXPECT_EQ(client->Wait(), 0) << client->Log();
    }
    EXPECT_GT(operations, 100u) << "the clients hardly ran";
    for (const std::string& fault : system.Faults()) ADD_FAILURE() << fault;
    system.Lock();
    EXPECT_EQ(system.Probed(9), probed9);
    EXPECT_EQ(system.Probed(12), probed12);
    const std::int32_t open = system.Table().nSystemOpenCount;
    EXPECT_TRUE(open >= killedOpen && open <= kills) << "open count " << open << ", " << killedOpen << " killed open";
    system.Unlock();
    std::printf("[ figures  ] %ld s, %ld kills: %llu operations, %llu requests\n", seconds, kills,
                static_cast<unsigned long long>(operations), static_cast<unsigned long long>(system.AllRequests()));
}

TEST(Soak, EightClientsOfTwoThreadsKeepEveryValueAndEveryExchangeWhole) {
    Soak(EnvNumber("KESTREL_SOAK_SECONDS", 2), 0);
}

TEST(Soak, OneOfEightClientsKilledEvery200ms) { Soak(0, EnvNumber("KESTREL_SOAK_KILLS", 12)); }

}  // namespace

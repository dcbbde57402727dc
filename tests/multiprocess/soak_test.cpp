// Eight client processes of two threads each doing random operations on one
// served chain, none or one of them killed every 200 ms (every other time
// the one holding the mutex) and replaced. The others go on within five
// seconds of each kill; no answer was wrong; every request came from the
// holder of the mutex; the table is as the probe left it; every stored value
// is one its writer wrote last or was writing when it died; the open count
// keeps exactly the processes that opened and never closed.
// KESTREL_SOAK_SECONDS and KESTREL_SOAK_KILLS make the runs longer.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "multiprocess/harness.h"

namespace {

using namespace kestrel_test;
using namespace kestrel_mp;

constexpr int kClients = 8;

void Soak(long seconds, long kills) {
    ServedSystem system;
    std::vector<std::unique_ptr<Child>> live(kClients);
    std::vector<std::string> journals, killedJournals;
    std::vector<std::size_t> journalOf(kClients);
    auto start = [&](int slot) {
        journalOf[slot] = journals.size();
        journals.push_back(system / ("journal-" + std::to_string(journals.size())));
        std::string arg = journals.back() + " " + std::to_string(slot) + " " + std::to_string(journalOf[slot]);
        live[slot].reset(new Child("Client", system.dir(), arg));
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
        killedJournals.push_back(journals[journalOf[slot]]);
        start(slot);
        auto killed = std::chrono::steady_clock::now();
        while (system.AllRequests() == before && std::chrono::steady_clock::now() - killed < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_NE(system.AllRequests(), before) << "nobody went on within 5 s of kill " << k + 1;
    }

    std::uint64_t operations = 0;
    for (auto& client : live) {
        client->Send("stop");
        std::string line;
        while ((line = client->Receive()) == "ready") {
        }
        std::istringstream said(line);
        std::string word;
        std::uint64_t ops = 0, errors = 0;
        said >> word >> ops >> errors;
        EXPECT_TRUE(word == "stopped" && errors == 0) << word << " " << errors << "\n" << client->Log();
        operations += ops;
        client->Send("exit");
        EXPECT_EQ(client->Wait(), 0) << client->Log();
    }
    Journals expected, killed;
    for (const std::string& journal : journals) expected.Read(journal);
    for (const std::string& journal : killedJournals) killed.Read(journal);
    for (const std::string& error : expected.errors) ADD_FAILURE() << error;
    EXPECT_GT(operations, 100u) << "the clients hardly ran";
    for (const std::string& fault : system.Faults()) ADD_FAILURE() << fault;
    system.Lock();
    EXPECT_EQ(system.Probed(9), probed9);
    EXPECT_EQ(system.Probed(12), probed12);
    const std::int32_t open = system.Table().nSystemOpenCount;
    EXPECT_TRUE(open >= static_cast<std::int32_t>(killed.opened) && open <= kills) << "open count " << open;
    system.Unlock();
    CheckStored(system, expected);
    EXPECT_EQ(system.Table().nSystemOpenCount, open) << "the checker closed what it opened";
    std::printf("[ figures  ] %ld s, %ld kills: %llu operations, %llu acknowledged writes, %llu requests\n", seconds,
                kills, static_cast<unsigned long long>(operations),
                static_cast<unsigned long long>(expected.acknowledged),
                static_cast<unsigned long long>(system.AllRequests()));
}

TEST(Soak, EightClientsOfTwoThreadsKeepEveryValueAndEveryExchangeWhole) {
    Soak(EnvNumber("KESTREL_SOAK_SECONDS", 2), 0);
}

TEST(Soak, OneOfEightClientsKilledEvery200ms) { Soak(0, EnvNumber("KESTREL_SOAK_KILLS", 12)); }

}  // namespace

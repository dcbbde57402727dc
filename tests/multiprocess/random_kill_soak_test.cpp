// Eight client processes doing random operations, one of them killed every
// 200 ms (every other time the one holding the mutex) and replaced. After every kill the others go on within five
// seconds (a watchdog fails the test on a hang); at the end the mutex is free, the
// table is as the probe left it, every request came from the holder of the
// mutex, and every stored value is one its writer wrote last or was writing
// when it died. KESTREL_SOAK_KILLS sets the number of kills (default 50).
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "multiprocess/soak_client.h"
#include "multiprocess/soak_support.h"
#include "posix/child_process.h"

namespace {

using namespace kestrel_test;

constexpr int kKillIntervalMs = 200;
// A hang detector, not a speed test: the next owner of an abandoned mutex
// may wait up to a second for the dead owner to finish exiting (a
// sanitized process exits slowly on a loaded machine), and only then runs
// its operation.
constexpr int kRecoveryLimitMs = 5000;

struct Incarnation {
    int slot;
    int number;
    std::string journal;
    std::unique_ptr<Child> process;
    bool greeted;  // its "opened" has been read
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

TEST(RandomKillSoak, OneOfEightClientsKilledEvery200ms) {
    const long kills = EnvNumber("KESTREL_SOAK_KILLS", 50);
    ServedSystem system;
    ASSERT_TRUE(system.serving());
    SharedState& table = system.Table();
    Progress progress(system / "progress");

    std::vector<Incarnation> all;  // in the order they were started
    std::vector<std::size_t> live(kSoakClients);
    auto start = [&](int slot, bool now) {
        int number = static_cast<int>(all.size());
        std::string journal = system / ("journal-" + std::to_string(number));
        std::string arg = std::to_string(slot) + " " + std::to_string(number) + " " + journal + " " +
                          system / "progress" + (now ? " now" : "");
        all.push_back({slot, number, journal, std::unique_ptr<Child>(new Child("SoakClient", system.dir(), arg)),
                       false});
        live[slot] = all.size() - 1;
    };
    for (int slot = 0; slot < kSoakClients; ++slot) start(slot, false);
    for (int slot = 0; slot < kSoakClients; ++slot) {
        ASSERT_TRUE(all[live[slot]].process->Expect("opened", 30000));
        all[live[slot]].greeted = true;
    }
    ASSERT_TRUE(system.Lock());
    ProbedRecord unit9(table.records[0]), unit12(table.records[3]);
    system.Unlock();
    ASSERT_EQ(unit9.nDetectors, 2) << unit9.Describe();
    for (int slot = 0; slot < kSoakClients; ++slot) all[live[slot]].process->Send("go");

    std::mt19937 random(20240607);
    std::vector<double> recoveryMs;
    std::vector<int> killed;  // indexes into all
    auto began = std::chrono::steady_clock::now();
    auto next = began;
    for (long k = 0; k < kills && !HasFailure(); ++k) {
        next += std::chrono::milliseconds(kKillIntervalMs);
        std::this_thread::sleep_until(next);
        // Every other kill goes to the holder of the mutex, when it is a
        // client, so that many die inside an exchange.
        int slot = static_cast<int>(random() % kSoakClients);
        if (k % 2 == 1) {
            std::uint32_t holder = system.HolderPid();
            for (int s = 0; s < kSoakClients; ++s)
                if (holder != 0 && static_cast<std::uint32_t>(all[live[s]].process->pid()) == holder) slot = s;
        }
        std::size_t victim = live[slot];
        std::uint64_t before = progress.Total();
        auto killedAt = std::chrono::steady_clock::now();
        all[victim].process->Kill();
        killed.push_back(static_cast<int>(victim));
        start(slot, true);
        // The others go on: some operation completes within the limit.
        double waited = 0;
        while (progress.Total() == before) {
            waited = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - killedAt).count();
            if (waited > kRecoveryLimitMs) break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        waited = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - killedAt).count();
        recoveryMs.push_back(waited);
        ASSERT_LE(waited, kRecoveryLimitMs) << "no operation completed within " << kRecoveryLimitMs << " ms of kill " << k + 1
                                            << " (client " << victim << ")";
        if (next < std::chrono::steady_clock::now()) next = std::chrono::steady_clock::now();
    }
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    // The survivors stop in order; the mutex must be free for them to.
    std::uint64_t errors = 0;
    for (int slot = 0; slot < kSoakClients; ++slot) {
        Child& client = *all[live[slot]].process;
        if (!all[live[slot]].greeted) {
            EXPECT_TRUE(client.Expect("opened", 30000));
        }
        client.Send("stop");
        std::istringstream said(client.Receive(30000));
        std::string word;
        std::uint64_t ops = 0, errs = 0;
        said >> word >> ops >> errs;
        EXPECT_EQ(word, "stopped") << client.Log();
        errors += errs;
        EXPECT_EQ(client.Wait(), 0) << client.Log();
    }
    ASSERT_TRUE(system.WaitNoConnections());

    Expectations expected;
    std::uint64_t killedAfterOpen = 0;
    for (const Incarnation& incarnation : all) expected.Read(incarnation.journal);
    for (int index : killed)
        for (const std::string& line : ReadLines(all[index].journal))
            if (line == "O") ++killedAfterOpen;
    EXPECT_EQ(errors, 0u);
    for (const std::string& error : expected.errors) ADD_FAILURE() << error;

    BracketChecker::Report brackets = system.Brackets();
    EXPECT_EQ(brackets.violations, 0u);
    for (const std::string& example : brackets.examples) ADD_FAILURE() << example;
    EXPECT_EQ(brackets.unclosedTakeovers, 0u);
    std::uint64_t commands9 = 0, commands12 = 0;
    for (const std::string& bad : system.MalformedCommands(9, &commands9)) ADD_FAILURE() << "MCB 9 took \"" << bad << "\"";
    for (const std::string& bad : system.MalformedCommands(12, &commands12)) ADD_FAILURE() << "MCB 12 took \"" << bad << "\"";

    ASSERT_TRUE(system.Lock());
    EXPECT_TRUE(ProbedRecord(table.records[0]) == unit9) << ProbedRecord(table.records[0]).Describe();
    EXPECT_TRUE(ProbedRecord(table.records[3]) == unit12) << ProbedRecord(table.records[3]).Describe();
    EXPECT_EQ(system.SelectionMismatch(), "");
    // The killed clients never closed: the count keeps those that had opened.
    std::int32_t openCount = table.nSystemOpenCount;
    EXPECT_GE(openCount, static_cast<std::int32_t>(killedAfterOpen));
    EXPECT_LE(openCount, static_cast<std::int32_t>(killed.size()));
    system.Unlock();

    CheckFigures checked = CheckStoredValues(system, expected);
    EXPECT_EQ(table.nSystemOpenCount, openCount) << "the checker closed what it opened";

    std::printf("[ figures  ] random kills: %zu kills in %.1f s (%llu while starting up), %llu operations "
                "(%.0f/s), %llu acknowledged writes; next operation done after a kill in median %.1f ms, "
                "99th %.1f ms, max %.1f ms; %llu holds, %llu abandoned by the dead, %llu taken over, "
                "%llu driver requests; units took %llu + %llu commands; read back %zu values, %zu channel "
                "runs, %zu locks; open count left by the dead %d\n",
                killed.size(), elapsed, static_cast<unsigned long long>(killed.size() - killedAfterOpen),
                static_cast<unsigned long long>(progress.Total()), progress.Total() / elapsed,
                static_cast<unsigned long long>(expected.acknowledged), Percentile(recoveryMs, 0.5),
                Percentile(recoveryMs, 0.99), Percentile(recoveryMs, 1.0),
                static_cast<unsigned long long>(brackets.brackets),
                static_cast<unsigned long long>(brackets.abandoned),
                static_cast<unsigned long long>(brackets.takeovers),
                static_cast<unsigned long long>(brackets.requests), static_cast<unsigned long long>(commands9),
                static_cast<unsigned long long>(commands12), checked.values, checked.data, checked.locks,
                openCount);
}

}  // namespace

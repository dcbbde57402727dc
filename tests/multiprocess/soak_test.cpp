// Eight client processes of two threads each on one chain served by
// kestrel-portd's service, doing random operations for a while. Afterwards
// every stored value is the last one written, no answer was wrong, the open
// count is back to 0, and the units saw only whole commands from whole
// exchanges. KESTREL_SOAK_SECONDS makes the run longer (default 3 s).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "multiprocess/soak_client.h"
#include "multiprocess/soak_support.h"
#include "posix/child_process.h"

namespace {

using namespace kestrel_test;

TEST(MultiProcessSoak, EightClientsOfTwoThreadsKeepEveryValueAndEveryExchangeWhole) {
    const long seconds = EnvNumber("KESTREL_SOAK_SECONDS", 3);
    ServedSystem system;
    ASSERT_TRUE(system.serving());
    SharedState& table = system.Table();  // held here too, so it outlives the clients
    Progress progress(system / "progress");

    std::vector<std::unique_ptr<Child>> clients;
    for (int slot = 0; slot < kSoakClients; ++slot) {
        std::string arg = std::to_string(slot) + " " + std::to_string(slot) + " " +
                          system / ("journal-" + std::to_string(slot)) + " " + system / "progress";
        clients.emplace_back(new Child("SoakClient", system.dir(), arg));
    }
    for (auto& client : clients) ASSERT_TRUE(client->Expect("opened", 30000));

    // What a complete probe put in the table, before anything else happens.
    ASSERT_TRUE(system.Lock());
    ProbedRecord unit9(table.records[0]), unit12(table.records[3]);
    system.Unlock();
    ASSERT_EQ(unit9.nDetectors, 2) << unit9.Describe();
    ASSERT_EQ(unit12.nDetectors, 4) << unit12.Describe();

    auto started = std::chrono::steady_clock::now();
    for (auto& client : clients) client->Send("go");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (auto& client : clients) client->Send("stop");
    std::uint64_t operations = 0, errors = 0;
    for (auto& client : clients) {
        std::istringstream said(client->Receive(30000));
        std::string word;
        std::uint64_t ops = 0, errs = 0;
        said >> word >> ops >> errs;
        EXPECT_EQ(word, "stopped") << client->Log();
        operations += ops;
        errors += errs;
    }
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (auto& client : clients) EXPECT_EQ(client->Wait(), 0) << client->Log();
    ASSERT_TRUE(system.WaitNoConnections());

    Expectations expected;
    for (int slot = 0; slot < kSoakClients; ++slot) expected.Read(system / ("journal-" + std::to_string(slot)));
    EXPECT_EQ(errors, 0u);
    for (const std::string& error : expected.errors) ADD_FAILURE() << error;
    EXPECT_EQ(operations, progress.Total());
    EXPECT_GT(operations, 100u) << "the clients hardly ran";

    // Every request came from the one process that held the mutex.
    BracketChecker::Report brackets = system.Brackets();
    EXPECT_EQ(brackets.violations, 0u);
    for (const std::string& example : brackets.examples) ADD_FAILURE() << example;
    EXPECT_EQ(brackets.takeovers, 0u);
    EXPECT_EQ(brackets.abandoned, 0u);

    // The units took whole commands only.
    std::uint64_t commands9 = 0, commands12 = 0;
    for (const std::string& bad : system.MalformedCommands(9, &commands9))
        ADD_FAILURE() << "MCB 9 took \"" << bad << "\"";
    for (const std::string& bad : system.MalformedCommands(12, &commands12))
        ADD_FAILURE() << "MCB 12 took \"" << bad << "\"";

    // The table is as the probe left it and its selections describe the units.
    ASSERT_TRUE(system.Lock());
    EXPECT_TRUE(ProbedRecord(table.records[0]) == unit9) << ProbedRecord(table.records[0]).Describe();
    EXPECT_TRUE(ProbedRecord(table.records[3]) == unit12) << ProbedRecord(table.records[3]).Describe();
    EXPECT_EQ(system.SelectionMismatch(), "");
    EXPECT_EQ(table.nSystemOpenCount, 0) << "every client closed";
    system.Unlock();

    CheckFigures checked = CheckStoredValues(system, expected);
    EXPECT_EQ(table.nSystemOpenCount, 0) << "the checker closed too";
    EXPECT_EQ(checked.values, static_cast<std::size_t>(kSoakClients * 2 * kValueTargets.size()));
    EXPECT_EQ(checked.data, static_cast<std::size_t>(kSoakClients * 2 * kDataTargets.size()));

    std::printf("[ figures  ] soak %.1f s: %llu operations (%.0f/s), %llu acknowledged writes, "
                "%llu driver requests in %llu holds, units took %llu + %llu commands; read back "
                "%zu values, %zu channel runs, %zu locks\n",
                elapsed, static_cast<unsigned long long>(operations), operations / elapsed,
                static_cast<unsigned long long>(expected.acknowledged),
                static_cast<unsigned long long>(brackets.requests),
                static_cast<unsigned long long>(brackets.brackets),
                static_cast<unsigned long long>(commands9), static_cast<unsigned long long>(commands12),
                checked.values, checked.data, checked.locks);
}

}  // namespace

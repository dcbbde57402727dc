// The add-in in several processes of one system: one open count, one
// mutex, and owners that die holding it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "multiprocess/harness.h"
#include "platform/posix/ini_text.h"
#include "platform/posix/named_mutex.h"
#include "posix/portd_process.h"
#include "sim/unit.h"

namespace {

using namespace kestrel_test;
using namespace kestrel_mp;
using Clock = std::chrono::steady_clock;

std::unique_ptr<Child> Client(const std::string& dir, const std::string& arg = "closed") {
    auto child = std::make_unique<Child>("Client", dir, arg);
    EXPECT_TRUE(child->Expect("ready"));
    return child;
}

void Order(Child& child, const std::string& verb, const std::string& answer) {
    EXPECT_EQ(child.Ask(verb), answer) << verb << "\n" << child.Log();
}

TEST(AddinProcesses, OneOpenCountForEveryProcessNestedPerProcess) {
    TempDir dir;  // nothing serves the port: no detectors
    auto first = Client(dir.path()), second = Client(dir.path());
    const char* const steps[][3] = {{"1", "open", "1"}, {"1", "open", "1"}, {"2", "count", "1"}, {"2", "open", "2"},
                                    {"1", "close", "2"}, {"1", "count", "2"}, {"1", "close", "1"},
                                    {"2", "close", "0"}, {"1", "open", "1"}, {"1", "close", "0"}};
    for (const auto& step : steps) Order(*step[0] == '1' ? *first : *second, step[1], step[2]);
}

// Robust and recursive across processes: an owner dead three levels deep
// leaves it held once by the next, which releases it in order.
TEST(AddinProcesses, AMutexOwnerKilledThreeLevelsDeepLeavesItHeldOnceByTheNext) {
    TempDir dir;
    auto owner = Client(dir.path()), next = Client(dir.path()), third = Client(dir.path());
    for (int depth = 0; depth < 3; ++depth) Order(*owner, "hold", "acquired");
    next->Send("hold");
    ASSERT_TRUE(next->BlockedInMutex());
    owner->Kill();
    next->Expect("abandoned");
    Order(*next, "hold", "acquired");
    Order(*next, "hold", "acquired");
    third->Send("hold");
    for (int depth = 0; depth < 3; ++depth) {
        ASSERT_TRUE(third->BlockedInMutex());
        EXPECT_EQ(third->Receive(0), "") << "let go after " << depth << " of 3 releases";
        Order(*next, "release", "released");
    }
    third->Expect("acquired");
    Order(*next, "release", "not released");
    auto fourth = Client(dir.path());
    fourth->Send("hold");
    ASSERT_TRUE(fourth->BlockedInMutex());
    Order(*third, "release", "released");
    fourth->Expect("acquired");  // an orderly hand-over is not an abandonment
}

TEST(AddinProcesses, ConcurrentProfileWritersLoseNoUpdate) {
    TempDir dir;
    std::vector<std::unique_ptr<Child>> writers;
    for (int n = 0; n < 4; ++n) writers.push_back(Client(dir.path()));
    for (int n = 0; n < 4; ++n) writers[n]->Send("inikeys W" + std::to_string(n) + "_");
    for (auto& writer : writers) EXPECT_TRUE(writer->Expect("1"));
    platform::posix::IniText ini(ReadText(dir / "HVNACC32.INI"));
    EXPECT_EQ(ini.Keys("SHARED").size(), 160u);
    for (int n = 0; n < 4; ++n)
        for (int i = 0; i < 40; ++i) {
            std::string value;
            EXPECT_TRUE(ini.Get("SHARED", "W" + std::to_string(n) + "_" + std::to_string(i), &value) &&
                        value == std::to_string(i)) << n << " " << i;
        }
}

// Takes the add-in's mutex in a thread that ends; with "leader" the main
// thread ends as well, another thread keeping the process.
KESTREL_ROLE(ThreadOwner) {
    platform::Os& os = platform::NativeOs();
    platform::MutexHandle mutex = os.MutexCreate(kMutexName.c_str());
    bool taken = false;
    std::thread([&] { taken = os.MutexWait(mutex) == platform::WaitResult::Acquired; }).join();
    channel.Send(taken ? "held" : "not held");
    if (channel.arg != "leader") return channel.Receive(), 0;
    std::thread([&channel] { channel.Receive(), ::_exit(0); }).detach();
    ::syscall(SYS_exit, 0);  // the main thread alone ends
    return 3;
}

// The next owner of an abandoned mutex takes it once the owner's process has ended (its driver connection
// closed with it), promptly then; with the wait capped at 20 s, "promptly" can have a bound a loaded
// machine keeps.
TEST(AddinProcesses, TheNextOwnerWaitsForEveryThreadOfTheDeadOwnersProcess) {
    for (const char* how : {"", "leader"}) {
        TempDir dir;
        Child owner("ThreadOwner", dir.path(), how);
        ASSERT_TRUE(owner.Expect("held"));
        auto waiter = Client(dir.path());
        Order(*waiter, "cap 20000", "set");
        waiter->Send("hold");
        EXPECT_EQ(waiter->Receive(300), "") << "taken while the owner's process lived (" << how << ")";
        auto killed = Clock::now();
        owner.Kill();
        EXPECT_EQ(waiter->Receive(), "abandoned");
        EXPECT_LT(Clock::now() - killed, std::chrono::seconds(5)) << how;
    }
    // An owner's process that lives on delays the next owner by the cap only.
    TempDir dir;
    Child owner("ThreadOwner", dir.path());
    ASSERT_TRUE(owner.Expect("held"));
    auto waiter = Client(dir.path());
    auto started = Clock::now();
    Order(*waiter, "hold", "abandoned");
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(8));
}

TEST(AddinProcesses, TwoClientsShareOneChainBehindThePortProgram) {
    if (!PortdAvailable()) GTEST_SKIP() << "kestrel-portd was not built";
    ServedSystem system(false);
    PortdProcess portd({"--windir", system.dir()}, system / "portd.log");
    ASSERT_TRUE(portd.WaitServing(system / "dev/TarnDev")) << portd.Log();
    auto first = Client(system.dir(), ""), second = Client(system.dir(), "");
    std::string trace = first->Log();
    EXPECT_NE(trace.find("Parallel Controller 1 key found on Adapter 3"), std::string::npos) << trace;
    EXPECT_NE(trace.find("port = 1, uPrinterPortAddr = 0x0278"), std::string::npos) << trace;
    for (Child* client : {first.get(), second.get()}) {  // the demo chain
        Order(*client, "detectors 9", "2");
        Order(*client, "detectors 12", "4");
        Order(*client, "detectors 10", "0");
        Order(*client, "count", "2");
    }
    Order(*first, "setword 12 3 3735928559", "1");
    Order(*second, "getword 12 3", "3735928559");
    Order(*second, "getword 12 2", "0");
    Order(*first, "close", "1");
    Order(*second, "close", "0");
    PortdProcess another({"--windir", system.dir()}, system / "another.log");
    EXPECT_EQ(another.Wait(), 1);
    EXPECT_NE(another.Log().find("another kestrel-portd is serving"), std::string::npos) << another.Log();
    EXPECT_EQ(portd.Stop(SIGTERM), 0) << portd.Log();
    EXPECT_NE(::access((system / "dev/TarnDev").c_str(), F_OK), 0) << "the socket outlived the program";
}

}  // namespace

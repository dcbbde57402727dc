// The hand-over of an abandoned mutex and the driver connection of the
// dead owner. A process killed right after sending a driver request leaves
// that request in its socket; the next owner must never have it performed
// after its own requests, or the dead one's mailbox write would land in the
// middle of the new owner's exchange.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "addin/kestrel.h"
#include "addin/process_state.h"
#include "multiprocess/observed_os.h"
#include "multiprocess/served_system.h"
#include "platform/platform.h"
#include "posix/child_process.h"
#include "sim/driver.h"
#include "sim/unit.h"

namespace {

using namespace kestrel_test;

constexpr const char* kName = "UADDVELDAMUTEXKS";

void PutLE32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Holds the add-in's mutex with its driver aimed at the first byte of MCB
// 9's command text; on "send" sends the write of a 'Z' there without
// waiting for the answer, says "sent", and waits to be killed.
KESTREL_CHILD_ROLE(StaleSender) {
    ObservedOs& os = InstallObservedOs();
    Kestrel addin;
    addin.Open();
    TMutexAccess hold(addin.mutex);
    std::uint8_t address[16];
    PutLE32(address, 0);
    PutLE32(address + 4, 8);        // MCB 9, mailbox space
    PutLE32(address + 8, 2 * 16);   // offset 16 at the type-5 spacing
    PutLE32(address + 12, 1);
    std::uint32_t returned = 0;
    if (!os.DriverIoctl(Process().hPortDriver, sim::kNtSetAddress, address, sizeof address, nullptr, 0,
                        &returned))
        return 2;
    channel.Send("holding");
    if (!channel.Expect("send")) return 0;
    const std::uint8_t z = 'Z';
    channel.Send(os.SendUnanswered(sim::kNtWrite, &z, 1) ? "sent" : "not sent");
    channel.Receive();
    return 0;
}

TEST(AbandonedHandover, ARequestLeftInTheSocketOfTheDeadIsNeverPerformedAfterTheNewOwners) {
    ServedSystem system;
    ASSERT_TRUE(system.serving());
    Child survivor("KillSurvivor", system.dir());
    ASSERT_TRUE(survivor.Expect("opened", 30000));
    Child victim("StaleSender", system.dir());
    ASSERT_TRUE(victim.Expect("holding", 30000));
    survivor.Send("wait");
    // The service stops reading: the dead one's request and the new owner's
    // first one will both be waiting when it looks again.
    ASSERT_TRUE(system.PauseService());
    victim.Send("send");
    ASSERT_TRUE(victim.Expect("sent"));
    victim.Kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    system.ResumeService();
    std::string got = survivor.Receive(30000);
    EXPECT_EQ(got.rfind("abandoned ", 0), 0u) << got;
    {
        std::lock_guard<std::mutex> guard(system.chain().mutex());
        EXPECT_NE(system.chain().unit(9)->mailboxByte(16), 'Z') << "the dead one's write was performed";
    }
    EXPECT_EQ(survivor.Receive(100), "");
    survivor.Send("raw 9 1 SHOW_VERS");
    EXPECT_EQ(survivor.Receive(30000), "1 0 " + ExpectedReply(9, 1, "SHOW_VERS"));
    survivor.Send("release");
    EXPECT_EQ(survivor.Receive(30000), "released");
    survivor.Send("exit");
    EXPECT_EQ(survivor.Wait(), 0) << survivor.Log();
    BracketChecker::Report brackets = system.Brackets();
    EXPECT_EQ(brackets.violations, 0u);
    for (const std::string& example : brackets.examples) ADD_FAILURE() << example;
}

// A thread of this process takes the mutex and ends without letting go.
bool TakeInAThreadThatEnds(platform::Os& os) {
    platform::MutexHandle mutex = os.MutexCreate(kName);
    bool taken = false;
    if (mutex) std::thread([&] { taken = os.MutexWait(mutex) == platform::WaitResult::Acquired; }).join();
    return taken;
}

// The next owner takes an abandoned mutex only once the dead owner's
// process has ended (its files, the driver connection among them, are then
// closed), and promptly then, not at the cap of its wait. The waiter's cap
// is raised to 20 s here, so that "promptly" can have a bound a loaded
// machine keeps and a waiter that sat out its whole cap still fails.
void ExpectTakenOnlyOnceTheOwnersProcessEnds(const char* ownerRole, const char* stillThere) {
    TempDir dir;
    Child owner(ownerRole, dir.path());
    ASSERT_TRUE(owner.Expect("held"));
    Child waiter("MutexWaiter", dir.path(), "20000");
    ASSERT_TRUE(waiter.Expect("waiting"));
    EXPECT_EQ(waiter.Receive(300), "") << "taken while " << stillThere;
    auto killed = std::chrono::steady_clock::now();
    owner.Kill();
    EXPECT_TRUE(waiter.Expect("abandoned", 15000));
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - killed).count();
    EXPECT_LT(ms, 5000.0) << "taken that long after the owner's process was killed";
}

// The taking thread has ended; the process lives on until killed.
KESTREL_CHILD_ROLE(ThreadDeathOwner) {
    channel.Send(TakeInAThreadThatEnds(platform::NativeOs()) ? "held" : "not held");
    channel.Receive();
    return 0;
}

TEST(AbandonedHandover, TheNextOwnerWaitsForTheDeadOwnersProcessToEnd) {
    ExpectTakenOnlyOnceTheOwnersProcessEnds("ThreadDeathOwner", "the owner's process was still there");
}

// As above, in a process whose main thread has already ended: the process
// is not over while another of its threads runs, whatever the main
// thread's state says.
KESTREL_CHILD_ROLE(LeaderGoneOwner) {
    const bool taken = TakeInAThreadThatEnds(platform::NativeOs());
    std::thread([&channel, taken] {
        channel.Send(taken ? "held" : "not held");
        channel.Receive();
        ::_exit(0);
    }).detach();
    // The main thread alone ends (no unwinding through the test runner).
    ::syscall(SYS_exit, 0);
    return 3;
}

TEST(AbandonedHandover, TheNextOwnerWaitsForEveryThreadOfTheDeadOwnersProcess) {
    ExpectTakenOnlyOnceTheOwnersProcessEnds("LeaderGoneOwner", "a thread of the owner's process still ran");
}

TEST(AbandonedHandover, AnOwnerProcessThatLivesOnDelaysTheNextOwnerOnlyBriefly) {
    TempDir dir;
    Child owner("ThreadDeathOwner", dir.path());
    ASSERT_TRUE(owner.Expect("held"));
    Child waiter("MutexWaiter", dir.path());
    ASSERT_TRUE(waiter.Expect("waiting"));
    auto started = std::chrono::steady_clock::now();
    // The wait for a living owner process is capped at a second; the bound
    // here is loose so that a loaded machine (sanitizers, two cores) does
    // not fail it, yet far below "waits for the owner process to end".
    EXPECT_TRUE(waiter.Expect("abandoned", 15000));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(8000));
}

}  // namespace

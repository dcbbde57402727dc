// The add-in in several real processes of one system: one open count, one
// MCB table, one mutex, one chain behind kestrel-portd.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "addin/kestrel.h"
#include "addin/mutex.h"
#include "addin/shared_state.h"
#include "platform/platform.h"
#include "posix/child_process.h"
#include "posix/portd_process.h"
#include "posix/temp_dir.h"

namespace {

using kestrel_test::Child;
using kestrel_test::TempDir;

const char* WaitName(platform::WaitResult result) {
    switch (result) {
        case platform::WaitResult::Acquired: return "acquired";
        case platform::WaitResult::Abandoned: return "abandoned";
        default: return "failed";
    }
}

// A client process of the add-in, driven line by line:
//   open | close | count                     the open counts
//   detectors M | setword M D V | getword M D  slots of the interface
//   poke V | peek                            MCB 9's record, straight through the block
//   hold | release                           the add-in's mutex, held across orders
KESTREL_CHILD_ROLE(AddinClient) {
    Kestrel addin;
    platform::Os& os = platform::os();
    while (true) {
        std::istringstream order(channel.Receive());
        std::string verb;
        if (!(order >> verb) || verb == "exit") return 0;
        long a = 0, b = 0, c = 0;
        order >> a >> b >> c;
        std::int32_t mcb = static_cast<std::int32_t>(a), det = static_cast<std::int32_t>(b);
        std::string answer;
        if (verb == "open") {
            addin.Open();
            answer = std::to_string(*addin.pnSystemOpenCount);
        } else if (verb == "close") {
            addin.Close();
            answer = std::to_string(*addin.pnSystemOpenCount);
        } else if (verb == "count") {
            answer = std::to_string(*addin.pnSystemOpenCount);
        } else if (verb == "detectors") {
            answer = std::to_string(addin.GetDetectorCount(mcb));
        } else if (verb == "setword") {
            addin.SetDetectorWord(mcb, det, static_cast<std::uint32_t>(c));
            answer = "done";
        } else if (verb == "getword") {
            answer = std::to_string(addin.GetDetectorWord(mcb, det));
        } else if (verb == "poke") {
            TMutexAccess access(addin.mutex);
            RecordOf(*os.Shared(), 9)->dwDetectorWord[0] = static_cast<std::uint32_t>(a);
            answer = "done";
        } else if (verb == "peek") {
            TMutexAccess access(addin.mutex);
            answer = std::to_string(RecordOf(*os.Shared(), 9)->dwDetectorWord[0]);
        } else if (verb == "hold") {
            answer = WaitName(os.MutexWait(addin.mutex.Handle()));
        } else if (verb == "release") {
            answer = os.MutexRelease(addin.mutex.Handle()) ? "released" : "not released";
        } else {
            answer = "unknown order " + verb;
        }
        channel.Send(answer);
    }
}

// Sends an order and checks the answer, with the child's log on failure.
void Order(Child& child, const std::string& order, const std::string& answer) {
    ASSERT_TRUE(child.Send(order));
    child.Expect(answer);
}

TEST(AddinProcesses, TheSecondProcessSeesTheFirstsOpenCountAndTableWrites) {
    TempDir dir;  // no port service: the add-in finds no detectors
    Child first("AddinClient", dir.path()), second("AddinClient", dir.path());
    Order(first, "open", "1");
    Order(second, "count", "1");
    Order(second, "open", "2");
    Order(first, "count", "2");
    Order(first, "poke 3054", "done");
    Order(second, "peek", "3054");
    Order(second, "poke 77", "done");
    Order(first, "peek", "77");
    Order(second, "close", "1");
    Order(first, "close", "0");
}

TEST(AddinProcesses, TwoClientsShareOneChainBehindThePortService) {
    if (!kestrel_test::PortdAvailable()) GTEST_SKIP() << "kestrel-portd was not built";
    TempDir dir;
    // The port as an installed system describes it: LPT1, found under the
    // fourth adapter at 0x278.
    kestrel_test::WriteText(dir / "HVNACC32.INI", "[CONFIG]\nLPT=1\n");
    kestrel_test::WriteText(
        dir / "registry.txt",
        "[HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter\\3\\ParallelController\\1]\n"
        "Configuration Data = 00 00 00 00 00 00 00 00 01 00 01 00 01 00 00 00 "
        "01 01 00 00 78 02 00 00\n");
    kestrel_test::PortdProcess portd({"--windir", dir.path()}, dir / "portd.log");
    ASSERT_TRUE(portd.WaitServing(dir / "dev/TarnDev")) << portd.Log();
    Child first("AddinClient", dir.path()), second("AddinClient", dir.path());
    Order(first, "open", "1");
    Order(second, "open", "2");
    std::string trace = first.Log();
    EXPECT_NE(trace.find("Parallel Controller 1 key found on Adapter 3"), std::string::npos) << trace;
    EXPECT_NE(trace.find("port = 1, uPrinterPortAddr = 0x0278"), std::string::npos) << trace;
    // The demo chain: a two-input unit at 9, a four-device unit at 12.
    for (Child* client : {&first, &second}) {
        Order(*client, "detectors 9", "2");
        Order(*client, "detectors 12", "4");
        Order(*client, "detectors 10", "0");
    }
    Order(first, "setword 12 3 3735928559", "done");
    Order(second, "getword 12 3", "3735928559");
    Order(second, "getword 12 2", "0");
    Order(first, "close", "1");
    Order(second, "close", "0");
    EXPECT_EQ(portd.Stop(SIGTERM), 0) << portd.Log();
}

TEST(AddinProcesses, AClientKilledHoldingTheMutexDoesNotStopTheOthers) {
    TempDir dir;
    Child holder("AddinClient", dir.path()), other("AddinClient", dir.path());
    Order(holder, "hold", "acquired");
    Order(holder, "hold", "acquired");  // re-entered, as nested slots do
    ASSERT_TRUE(other.Send("peek"));
    EXPECT_EQ(other.Receive(100), "") << "an operation ran while another process held the mutex";
    holder.Kill();
    // The waiting operation goes through, and the mutex is free afterwards.
    other.Expect("0");
    Order(other, "hold", "acquired");
    Order(other, "release", "released");
    Order(other, "release", "not released");
}

}  // namespace

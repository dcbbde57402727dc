// start, stop, clear, wait and read against the driver service of the Windows directory, which keeps the
// chain between runs as real units do: every command on a counting, a stopped and a never-started input,
// the times after it against the units' clock (which starts at the chain's epoch), and the N42 file of
// every time state checked against the schema.
#include "tools/tool_run.h"

#ifdef KESTREL_PORTD_PROGRAM

#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <sstream>
#include <thread>

#include "posix/portd_process.h"
#include "tools/chain_files.h"

namespace kestrel_tool_test {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// MCB 9 keeps its clock and values: input 1 counting for a minute, 2 stopped after 30 s (recorded), 3
// stopped at a time nobody recorded (its record is of an earlier run), 4 never started. MCB 12 keeps neither: its start times are the PC's
// stamps, none yet.
const char* const kRunsChain =
    "[chain]\nepoch = 1000000000\n[unit 9]\nversion = 0919-005\ndetectors = 4\nchannels = 1024\nfeatures = 0x110000\n"
    "[unit 9 detector 1]\nacquiring = yes\nstart = 999999940\nlive_ms = 60000\n"
    "[unit 9 detector 2]\nstart = 999996400\nlive_ms = 30000\napp.KESTREL_RUN = 999996400 999996430 0\n"
    "[unit 9 detector 3]\nstart = 999999000\nlive_ms = 20000\napp.KESTREL_RUN = 999990000 999999500 0\n[unit 12]\ntype = 4\nversion = 8474-001\nchannels = 1024\n";

// A command (with "@" for an N42 path), its exit code and words, then the real time `list` shows for
// MCB 9 detector `det` (12: MCB 12 detector 1): from `real` to `real + slack` seconds, -1 unknown. An N42
// file written must keep the schema and state that real time, or no measurement at all for 0 s.
struct Step { std::string command; int exitCode; const char* says; int det, real, slack; };
const Step kSteps[] = {
    {"read 9 1 --n42 @", 0, "", 1, 60, 3},  // counting
    {"start 9 1", 0, "already counting since", 1, 60, 3},
    {"read 9 2 --n42 @", 0, "", 2, 30, 0},  // stopped, recorded
    {"stop 9 2", 0, "not counting; nothing changed (real time 30 s)", 2, 30, 0},
    {"wait 9 2 --seconds 5", 0, "nothing to wait for", 2, 30, 0},
    {"read 9 3 --n42 @", 1, "is unknown (stopped at a time kestrel did not record)", 3, -1, 0},
    {"read 9 3 --n42 @ --real-time 20", 0, "", 3, -1, 0},
    {"read 9 3 --csv - --real-time 0", 0, "# real time: 0 s (given with --real-time)", 3, -1, 0},
    {"read 9 3 --n42 @ --real-time 0", 1, "real time of MCB 9 detector 3 is 0 s", 3, -1, 0},  // with counts
    {"read 9 2 --n42 @ --real-time 20", 2, "is known (30 s)", 2, 30, 0},
    {"clear 9 3", 0, "spectrum cleared; real time 0 s", 3, 0, 0},
    {"read 9 3 --n42 @", 0, "", 3, 0, 0},  // 0 s, no counts
    {"read 9 4 --n42 @", 0, "", 4, 0, 0},  // never started
    {"start 9 2", 0, " s (30 s of it in earlier runs)", 2, 30, 1},  // the clock may tick once meanwhile
    {"stop 9 2", 0, "stopped; real time 3", 2, 30, 1},
    {"stop 9 2", 0, "nothing changed", 2, 30, 1},
    {"start 9 1 --clear --seconds 1", 0, "stopped; real time ", 1, 1, 1},
    {"start 9 4 --seconds 0", 0, "stopped; real time ", 4, 0, 1},
    {"read 12 1 --n42 @ --real-time 5", 1, "no start time of MCB 12 detector 1 is known", 12, -1, 0},
    {"start 12 1 --seconds 1", 0, "real time so far unknown (the spectrum holds counts of earlier runs", 12, -1, 0},
    {"start 12 1 --clear --seconds 1", 0, "stopped; real time ", 12, 1, 1},
    {"read 12 1 --n42 @", 0, "", 12, 1, 1},
    {"clear 12 1", 0, "real time 0 s", 12, 0, 0},
};

class KestrelAcquisition : public ToolTest {
protected:
    void Serve(const std::string& log) {
        chain_ = WriteChain(windir_ / "runs.conf", kRunsChain);
        service_ = std::make_unique<kestrel_test::PortdProcess>(std::vector<std::string>{"--windir", windir_.path(), "--config", chain_},
                                                                windir_ / log);
        ASSERT_TRUE(service_->WaitServing(windir_ / "dev/TarnDev")) << service_->Log();
    }
    std::unique_ptr<kestrel_test::PortdProcess> service_;
};

TEST_F(KestrelAcquisition, EveryCommandKeepsTheTimesTrue) {
    Serve("portd.log");
    std::string n42 = windir_ / "s.n42";
    for (const Step& step : kSteps) {
        ::unlink(n42.c_str());
        std::vector<std::string> args;
        std::istringstream words(step.command);
        for (std::string word; words >> word;) args.push_back(word == "@" ? n42 : word);
        ToolRun run = Run(args, false);
        EXPECT_EQ(run.exitCode, step.exitCode) << last_;
        EXPECT_NE((run.out + run.err).find(step.says), std::string::npos) << step.says << "\n" << last_;
        std::string target = step.det == 12 ? "12 1" : "9 " + std::to_string(step.det);
        Json times = Json::parse(Run({"list", target.substr(0, target.find(' ')), target.substr(target.find(' ') + 1), "--json"}, false).out)[0]["detectors"][0]["times"];
        if (step.real < 0)
            EXPECT_TRUE(times["real_s"].is_null()) << step.command << ": " << times;
        else
            EXPECT_TRUE(times["real_s"] >= step.real && times["real_s"] <= step.real + step.slack && times["live_s"] == times["real_s"])
                << step.command << ": " << times;
        if (step.command.find('@') == std::string::npos) continue;
        if (step.exitCode != 0) {
            EXPECT_NE(::access(n42.c_str(), F_OK), 0) << step.command << ": a file was written";
            continue;
        }
        EXPECT_EQ(N42SchemaErrors(n42), "") << step.command;
        pugi::xml_document document;
        ASSERT_TRUE(document.load_file(n42.c_str())) << step.command;
        std::string duration = document.document_element().child("RadMeasurement").child_value("RealTimeDuration");
        int real = duration.empty() ? 0 : std::stoi(duration.substr(2));
        int expected = step.real >= 0 ? step.real : 20;  // the real time given
        EXPECT_TRUE(real >= expected && real <= expected + step.slack) << step.command << ": " << duration;
    }
}

// A wait of any length notices the service's end at once, killed or restarted; a wait for an input to stop
// lasts until another run stops it, and says what it waits for.
TEST_F(KestrelAcquisition, AWaitEndsWithTheServiceAndSaysWhatItWaitsFor) {
    Serve("portd1.log");
    ASSERT_EQ(Run({"start", "9", "2"}, false).exitCode, 0) << last_;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        RunTool({"--windir", windir_.path(), "stop", "9", "2"}, {}, windir_.path());
    });
    auto begin = Clock::now();
    ToolRun waited = Run({"wait", "9", "2"}, false);
    stopper.join();
    EXPECT_TRUE(waited.exitCode == 0 && waited.err.find("waiting for MCB 9 detector 2 to stop") != std::string::npos) << last_;
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(1200));

    for (bool restart : {false, true}) {
        ToolRun counting;
        ::unlink((scratch_ / "tool.err").c_str());  // the last run's words
        std::thread client([&] { counting = Run({"start", "9", "1", "--seconds", "30"}, false); });
        for (auto until = Clock::now() + std::chrono::seconds(10);
             kestrel_test::ReadText(scratch_ / "tool.err").find("letting MCB 9") == std::string::npos && Clock::now() < until;)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        service_->Stop(SIGKILL);
        auto killed = Clock::now();
        if (restart) Serve("portd2.log");
        client.join();
        EXPECT_LT(Clock::now() - killed, std::chrono::seconds(2)) << "restart " << restart;
        EXPECT_EQ(counting.exitCode, 3) << counting.err;
        EXPECT_NE(counting.err.find("kestrel: the port-driver service went away"), std::string::npos) << counting.err;
        if (!restart) Serve("portd3.log");
    }
}

}  // namespace
}  // namespace kestrel_tool_test

#endif  // KESTREL_PORTD_PROGRAM

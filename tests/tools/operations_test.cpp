// The detector operations, each run a process of its own: what one run stores, the next one finds; what
// another owner's lock guards, no run changes unless told to.
#include <ctime>
#include <nlohmann/json.hpp>

#include "tools/chain_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

using Json = nlohmann::json;
using KestrelOperations = ToolTest;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(KestrelOperations, ListsEveryDetectorOrOneAsTextOrJson) {
    ToolRun all = Run({"list"});
    ASSERT_EQ(all.exitCode, 0) << last_;
    for (const char* line : {"MCB 9: version 0919-005, 2 detectors", "MCB 12: version 8474-001, 4 detectors", "detector 2: MCB 9 Input 2 (default description)",
                             "identifier   1204 (default)", "    real time    250 s\n    live time    250 s (equal to the real time",
                             "    real time    0 s (never started)\n", "lock         0 (free)"})
        EXPECT_TRUE(Contains(all.out, line)) << line << "\n" << last_;
    Json units = Json::parse(Run({"list", "12", "3", "--json"}).out);
    ASSERT_TRUE(units.size() == 1 && units[0]["mcb"] == 12 && units[0]["detectors"].size() == 1) << last_;
    Json det = units[0]["detectors"][0];
    EXPECT_TRUE(det["detector"] == 3 && det["channels"] == 16384 && det["masks"]["data"] == 0x00FFFFFF) << det;
    EXPECT_NE(det["features"][15], 0) << det;  // the host's guess, which the add-in found in the program
    Json times = det["times"];
    times.erase("now");  // the unit's clock: the chain's epoch and the run's length
    EXPECT_EQ(times.dump(), R"({"active":false,"dead_s":null,"earlier_runs_s":0,"live_is_real":true,"live_s":null,"never_started":false,)"
                            R"("real_s":null,"real_unknown_why":"stopped at a time kestrel did not record","start":999990000,)"
                            R"("start_utc":"2001-09-08T23:00:00Z","stop":null})");
}

TEST_F(KestrelOperations, StoredValuesOutliveTheRun) {
    std::uint32_t before = static_cast<std::uint32_t>(std::time(nullptr));
    std::string accents;  // 128 characters of two bytes each
    for (int i = 0; i < 128; ++i) accents += "\xC3\xA9";
    for (std::vector<std::string> args : {std::vector<std::string>{"lock", "12", "2", "7", "Smith lab"}, {"describe", "12", "2", accents, "--owner", "Smith lab"},
                                          {"set-id", "12", "2", "4242", "--force"}})
        ASSERT_EQ(Run(args).exitCode, 0) << last_;
    ToolRun stamp = Run({"start-time", "12", "4"});  // seen at once, by the run that stamps
    EXPECT_TRUE(stamp.exitCode == 0 && !Contains(stamp.out, "start time none")) << last_;
    // Later processes, each on a fresh simulated chain, find them in the INI file of the Windows directory.
    Json twelve = Json::parse(Run({"list", "12", "--json"}).out)[0]["detectors"];
    EXPECT_TRUE(twelve[1]["description"] == accents && twelve[1]["identifier"] == 4242 && twelve[1]["lock"] == 7 &&
                twelve[1]["lock_owner"] == "Smith lab") << twelve[1];
    EXPECT_GE(twelve[3]["times"]["start"].get<std::uint32_t>(), before) << twelve[3];
    EXPECT_TRUE(twelve[0]["times"]["start"].is_null()) << twelve[0];
    ASSERT_EQ(Run({"unlock", "12", "2", "--owner", "Smith lab"}).exitCode, 0) << last_;
    EXPECT_EQ(Json::parse(Run({"list", "12", "2", "--json"}).out)[0]["detectors"][0]["lock"], 0);
}

// Every command that changes a detector, on one that another owner has locked: refused, naming the
// owner, and nothing stored changes.
TEST_F(KestrelOperations, AnotherOwnersLockRefusesEveryChangeUnlessForced) {
    ASSERT_EQ(Run({"lock", "12", "1", "7", "Smith lab"}).exitCode, 0) << last_;
    auto stored = [&] {
        Json det = Json::parse(Run({"list", "12", "1", "--json"}).out)[0]["detectors"][0];
        return det["description"].dump() + det["identifier"].dump() + det["lock"].dump() + det["lock_owner"].dump() + det["times"]["start"].dump();
    };
    const std::string before = stored();
    for (std::vector<std::string> change : {std::vector<std::string>{"start", "12", "1"}, {"stop", "12", "1"}, {"clear", "12", "1"},
                                            {"wait", "12", "1", "--seconds", "0"}, {"describe", "12", "1", "x", "--owner", "Jones"}, {"set-id", "12", "1", "5"},
                                            {"start-time", "12", "1"}, {"roi", "set", "12", "1", "1", "1"}, {"raw", "12", "1", "START"}, {"unlock", "12", "1"},
                                            {"lock", "12", "1", "8", "Jones"}}) {
        ToolRun run = Run(change);
        EXPECT_EQ(run.exitCode, 1) << last_;
        EXPECT_TRUE(Contains(run.err, "kestrel: MCB 12 detector 1 is locked by \"Smith lab\" (lock 7): --owner \"Smith lab\"")) << last_;
    }
    EXPECT_EQ(stored(), before);
    EXPECT_EQ(Run({"start-time", "12", "1", "--show"}).exitCode, 0) << last_;
    EXPECT_EQ(Run({"describe", "12", "1", "Left arm", "--force"}).exitCode, 0) << last_;
    ToolRun taken = Run({"lock", "12", "1", "8", "Jones lab", "--force"});
    EXPECT_TRUE(taken.exitCode == 0 && Contains(taken.out, "MCB 12 detector 1 locked: 8 owner \"Jones lab\"")) << last_;
}

TEST_F(KestrelOperations, RawRoiAndTrace) {
    ToolRun version = Run({"--trace", "1", "raw", "9", "1", "SHOW_VERS"});
    EXPECT_TRUE(version.exitCode == 0 && Contains(version.out, "response: $F0919-005\nstatus: 0 0\n") &&
                Contains(version.err, "detectors for local access")) << last_;
    ToolRun refused = Run({"raw", "9", "1", "NO_SUCH_COMMAND"});  // refused, and no trace unasked
    EXPECT_TRUE(refused.exitCode == 1 && !Contains(refused.err, "detectors for local access")) << last_;
    ToolRun roi = Run({"roi", "set", "9", "1", "100", "50"});
    EXPECT_TRUE(roi.exitCode == 0 && Contains(roi.out, "channels 100 to 149: result 1, status 0 0\n") && !Contains(roi.out, "carry no ROI marks")) << last_;
    // A type-4 unit's channel words carry its mailbox in their top byte, not ROI marks.
    ToolRun device = Run({"roi", "clear", "12", "1", "1", "1"});
    EXPECT_TRUE(device.exitCode == 0 && Contains(device.out, "carry no ROI marks: kestrel cannot read them back")) << last_;
    EXPECT_TRUE(Json::parse(Run({"read", "12", "1", "--count", "4", "--json"}).out)["roi"].is_null()) << last_;
    // A unit that marks ROIs in a bit of its counts shows none where kestrel reads them (bit 30): done is
    // not what its memory says.
    chain_ = WriteChain(windir_ / "odd.conf", "[unit 9]\nversion = 0919-005\ndata_mask = 0x80FFFFFF\naux_mask = 0xFF000000\n");
    ToolRun odd = Run({"roi", "set", "9", "1", "100", "50"});
    EXPECT_TRUE(odd.exitCode == 1 && Contains(odd.err, "MCB 9 reported success, but 50 of the channels 100 to 149 show no ROI mark")) << last_;
}

}  // namespace
}  // namespace kestrel_tool_test

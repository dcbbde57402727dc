// The detector operations, each run a process of its own: what one run
// stores, the next one finds.
#include <ctime>
#include <nlohmann/json.hpp>

#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

using Json = nlohmann::json;
using KestrelOperations = ToolTest;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(KestrelOperations, ListsEveryDetectorOrOneAsTextOrJson) {
    ToolRun all = Run({"list"});
    ASSERT_EQ(all.exitCode, 0) << last_;
    for (const char* line : {"MCB 9: version 0919-005, 2 detectors", "MCB 12: version 8474-001, 4 detectors",
                             "detector 2: MCB 9 Input 2 (default description)", "identifier   1204 (default)"})
        EXPECT_TRUE(Contains(all.out, line)) << line << "\n" << last_;
    Json units = Json::parse(Run({"list", "12", "3", "--json"}).out);
    ASSERT_TRUE(units.size() == 1 && units[0]["mcb"] == 12 && units[0]["detectors"].size() == 1) << last_;
    Json det = units[0]["detectors"][0];
    EXPECT_TRUE(det["detector"] == 3 && det["channels"] == 16384 && det["masks"]["data"] == 0x00FFFFFF) << det;
    EXPECT_NE(det["features"][15], 0) << det;  // the host's guess, which the add-in found in the program
    EXPECT_TRUE(det["times"]["active"] == false && det["times"]["start"].is_null() && det["times"]["real_s"].is_null()) << det;
}

TEST_F(KestrelOperations, StoredValuesOutliveTheRun) {
    std::uint32_t before = static_cast<std::uint32_t>(std::time(nullptr));
    for (std::vector<std::string> args : {std::vector<std::string>{"lock", "12", "2", "7", "Smith lab"},
                                          {"describe", "12", "2", "Left arm"}, {"set-id", "12", "2", "4242"}})
        ASSERT_EQ(Run(args).exitCode, 0) << last_;
    ToolRun stamp = Run({"start-time", "9", "2"});  // seen at once, by the run that stamps
    EXPECT_TRUE(stamp.exitCode == 0 && !Contains(stamp.out, "start time none")) << last_;
    // Later processes, each on a fresh simulated chain, find them in the
    // INI file of the Windows directory.
    Json det = Json::parse(Run({"list", "12", "--json"}).out)[0]["detectors"][1];
    EXPECT_TRUE(det["description"] == "Left arm" && det["identifier"] == 4242 && det["lock"] == 7 &&
                det["lock_owner"] == "Smith lab") << det;
    Json nine = Json::parse(Run({"list", "9", "--json"}).out)[0]["detectors"];
    EXPECT_GE(nine[1]["times"]["start"].get<std::uint32_t>(), before) << nine;
    EXPECT_TRUE(nine[0]["times"]["start"].is_null()) << nine;
    ASSERT_EQ(Run({"unlock", "12", "2"}).exitCode, 0) << last_;
    EXPECT_EQ(Json::parse(Run({"list", "12", "2", "--json"}).out)[0]["detectors"][0]["lock"], 0);
}

TEST_F(KestrelOperations, RawRoiAndTrace) {
    ToolRun version = Run({"--trace", "1", "raw", "9", "1", "SHOW_VERS"});
    EXPECT_TRUE(version.exitCode == 0 && Contains(version.out, "response: $F0919-005\nstatus: 0 0\n") &&
                Contains(version.err, "detectors for local access")) << last_;
    ToolRun refused = Run({"raw", "9", "1", "NO_SUCH_COMMAND"});  // refused, and no trace unasked
    EXPECT_TRUE(refused.exitCode == 1 && !Contains(refused.err, "detectors for local access")) << last_;
    ToolRun roi = Run({"roi", "set", "9", "1", "100", "50"});
    EXPECT_TRUE(roi.exitCode == 0 && Contains(roi.out, "channels 100 to 149: result 1, status 0 0")) << last_;
}

}  // namespace
}  // namespace kestrel_tool_test

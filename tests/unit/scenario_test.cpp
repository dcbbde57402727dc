// Scenario files (tests/golden/scenarios/*.txt): a chain in the simulator's own configuration format, a
// script of operations, and the transcript they must give: results, trace lines, the commands each unit
// took, the fake time each step took and, where asked for, the driver requests themselves. Every script
// runs with the NT driver and with the Windows 95 VxD; both must give the same transcript apart from times
// and the driver's start-up ("protocol nt" or "protocol win95" runs one; "protocol each" keeps one
// transcript per protocol, for the driver requests). A [matrix] block runs every operation under every
// fault at every stage, one line a cell.
//
// After a deliberate change, rewrite the transcripts with
//     KESTREL_UPDATE_GOLDEN=1 <unit test program> --gtest_filter='Scenario*'
// and review the difference before committing it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/scenario.h"

namespace {

namespace fs = std::filesystem;

const fs::path kScenarios = fs::path(KESTREL_SOURCE_DIR) / "tests" / "golden" / "scenarios";

std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kScenarios))
        if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What may differ between the two driver protocols.
std::string WithoutTimes(const std::string& text) {
    static const std::regex kVarying(R"( \[\d+\.\d+ ms\]| x\d+|  ~ \d+\.\d+ ms\n|  \| "Kestrel::ProcessStartup\(\)[^\n]*\n)");
    return std::regex_replace(text, kVarying, "");
}

void ExpectSame(const std::string& path, const std::string& want, const std::string& got, const char* what) {
    if (want == got) return;
    std::istringstream a(want), b(got);
    std::string x, y;
    for (int line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(a, x)), moreB = static_cast<bool>(std::getline(b, y));
        if (!moreA && !moreB) break;
        if (moreA && moreB && x == y) continue;
        ADD_FAILURE() << path << ": " << what << ", transcript line " << line << "\n  expected: "
                      << (moreA ? x : "<end>") << "\n  now:      " << (moreB ? y : "<end>");
        return;
    }
}

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, GivesItsTranscript) {
    const std::string path = (kScenarios / (GetParam() + ".txt")).string();
    std::ifstream in(path, std::ios::binary);
    std::stringstream file;
    file << in.rdbuf();
    const scenario::Script script = scenario::Parse(file.str());
    ASSERT_TRUE(script.error.empty()) << path << ": " << script.error;

    const bool first = script.protocols[0];
    const std::string transcript =
        script.each ? scenario::Run(script, true) + "--- Windows 95\n" + scenario::Run(script, false)
                    : scenario::Run(script, first);
    const char* update = std::getenv("KESTREL_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << script.head << "[expected]\n" << transcript;
    } else {
        ExpectSame(path, script.expected, transcript, first ? "NT driver" : "Windows 95 VxD");
    }
    if (script.protocols.size() > 1 && !script.each)
        ExpectSame(path, WithoutTimes(transcript), WithoutTimes(scenario::Run(script, script.protocols[1])),
                   "Windows 95 VxD against the NT driver");
}

INSTANTIATE_TEST_SUITE_P(Golden, Scenario, ::testing::ValuesIn(Names()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace

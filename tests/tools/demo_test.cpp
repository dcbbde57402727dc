// `kestrel demo` as the README has users run it: no arguments, in an
// empty directory, on a machine with nothing set up.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "posix/temp_dir.h"
#include "tools/export_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

using kestrel_test::ReadText;
using kestrel_test::TempDir;

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

TEST(KestrelDemo, RunsInAnEmptyDirectoryAndLeavesItsExports) {
    TempDir scratch;
    TempDir work;
    TempDir windir;  // given but unused: the demo makes its own
    std::vector<std::string> args{"demo"};
    ToolRun run = RunTool(args, {windir.path(), work.path(), {}}, scratch.path());
    ASSERT_EQ(run.exitCode, 0) << Describe(args, run);

    // It tells where everything is, and it is there.
    std::string out = work / "kestrel-demo-out";
    for (const char* file : {"mcb9-det2.csv", "mcb9-det2.n42", "mcb9-det2.png"}) {
        EXPECT_NE(run.out.find(std::string(file)), std::string::npos) << file << "\n" << run.out;
        EXPECT_TRUE(Exists(out + "/" + file)) << file;
    }
    // Both units of the demo chain were listed, with every detector.
    for (const char* line : {"MCB 9: version 0919-005, 2 detectors",
                             "MCB 12: version 8474-001, 4 detectors", "detector 4: MCB 12 Input 4"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;

    // The counts grew while the demo waited.
    std::smatch grown;
    ASSERT_TRUE(std::regex_search(run.out, grown, std::regex(R"(\(\+(\d+) since the wait began\))")))
        << run.out;
    EXPECT_GT(std::stoll(grown[1].str()), 0);

    CsvSpectrum csv = ParseCsv(ReadText(out + "/mcb9-det2.csv"));
    ASSERT_EQ(csv.problem, "");
    EXPECT_EQ(csv.header, "channel,counts");
    ASSERT_EQ(csv.counts.size(), 4096u);  // the input's channels, one row each
    EXPECT_EQ(csv.channels.front(), 0u);
    EXPECT_EQ(csv.channels.back(), 4095u);
    std::uint64_t total = 0;
    for (std::uint64_t counts : csv.counts) {
        total += counts;
        // The ROI the demo set marks its channels with a bit outside the
        // input's data mask (0x00FFFFFF): the counts must not carry it.
        ASSERT_LE(counts, 0x00FFFFFFu);
    }
    EXPECT_GT(total, 0u);

    N42Spectrum n42 = ParseN42(out + "/mcb9-det2.n42");
    ASSERT_EQ(n42.problem, "");
    EXPECT_EQ(n42.root, "RadInstrumentData");
    EXPECT_EQ(n42.counts, csv.counts);

    EXPECT_TRUE(HasPngSignature(out + "/mcb9-det2.png"));

    // Its temporary Windows directory is gone afterwards.
    std::smatch windirLine;
    ASSERT_TRUE(std::regex_search(run.out, windirLine, std::regex(R"(windows directory\s+(\S+))")))
        << run.out;
    EXPECT_NE(windirLine[1].str(), windir.path());
    EXPECT_FALSE(Exists(windirLine[1].str())) << windirLine[1].str();
}

TEST(KestrelDemo, WritesIntoTheDirectoryGivenWithOut) {
    TempDir scratch;
    TempDir windir;
    std::string out = windir / "nested/out";
    std::vector<std::string> args{"demo", "--out", out, "--seconds", "0.2"};
    ToolRun run = RunTool(args, {windir.path(), "", {}}, scratch.path());
    ASSERT_EQ(run.exitCode, 0) << Describe(args, run);
    EXPECT_EQ(ParseCsv(ReadText(out + "/mcb9-det2.csv")).counts.size(), 4096u);
    EXPECT_TRUE(HasPngSignature(out + "/mcb9-det2.png"));
}

// Ctrl-C in the middle of a run ends it with 130 and leaves no simulated
// system behind in the temporary directory.
TEST(KestrelDemo, AnInterruptedRunLeavesNothingBehind) {
    TempDir scratch;
    TempDir tmp;
    std::vector<std::string> args{"demo", "--out", scratch / "out", "--seconds", "20"};
    ToolRun run = RunToolInterrupted(args, {"", "", {{"TMPDIR", tmp.path()}}}, scratch.path(), "waiting 20.0 s");
    EXPECT_EQ(run.exitCode, 130) << Describe(args, run);
    std::smatch windirLine;
    ASSERT_TRUE(std::regex_search(run.out, windirLine, std::regex(R"(windows directory\s+(\S+))"))) << run.out;
    EXPECT_EQ(windirLine[1].str().rfind(tmp.path() + "/kestrel-", 0), 0u) << "not in TMPDIR: " << windirLine[1];
    EXPECT_FALSE(Exists(windirLine[1].str())) << windirLine[1].str();
}

}  // namespace
}  // namespace kestrel_tool_test

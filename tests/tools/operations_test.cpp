// The detector operations of the tool, each run a process of its own:
// what one run stores, the next one finds.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "posix/temp_dir.h"
#include "tools/chain_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

using kestrel_test::ReadText;
using kestrel_test::TempDir;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class KestrelOperations : public ::testing::Test {
protected:
    ToolRun Run(const std::vector<std::string>& args) {
        std::vector<std::string> all{"--windir", windir_.path(), "--sim", config_};
        all.insert(all.end(), args.begin(), args.end());
        ToolRun run = RunTool(all, {windir_.path(), "", {}}, scratch_.path());
        last_ = Describe(all, run);
        return run;
    }

    // The part of `list` about one detector of one MCB.
    std::string Listed(const std::string& list, int mcb, int det) {
        std::size_t unit = list.find("MCB " + std::to_string(mcb) + ":");
        if (unit == std::string::npos) return "";
        std::size_t from = list.find("  detector " + std::to_string(det) + ":", unit);
        if (from == std::string::npos) return "";
        std::size_t to = list.find("  detector ", from + 3);
        std::size_t nextUnit = list.find("\nMCB ", from);
        return list.substr(from, std::min(to, nextUnit) - from);
    }

    TempDir scratch_;
    TempDir windir_;
    std::string config_ = WriteChain(windir_ / "chain.conf", kStoppedChain);
    std::string last_;
};

TEST_F(KestrelOperations, ListsEveryUnitAndDetector) {
    ToolRun run = Run({"list"});
    ASSERT_EQ(run.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(run.out, "MCB 9: version 0919-005, 2 detectors")) << last_;
    EXPECT_TRUE(Contains(run.out, "MCB 12: version 8474-001, 4 detectors")) << last_;
    std::string det2 = Listed(run.out, 9, 2);
    EXPECT_TRUE(Contains(det2, "MCB 9 Input 2 (default description)")) << det2;
    EXPECT_TRUE(Contains(det2, "identifier   902 (default)")) << det2;
    EXPECT_TRUE(Contains(det2, "channels     2048")) << det2;
    EXPECT_TRUE(Contains(det2, "data 0x00FFFFFF  aux 0xFF000000")) << det2;
    EXPECT_TRUE(Contains(det2, "active       no")) << det2;
    EXPECT_TRUE(Contains(Listed(run.out, 12, 4), "channels     16384")) << last_;
    EXPECT_EQ(Listed(run.out, 12, 5), "");
}

TEST_F(KestrelOperations, LockDescriptionAndIdentifierOutliveTheRun) {
    ToolRun lock = Run({"lock", "12", "2", "7", "Smith lab"});
    ASSERT_EQ(lock.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(lock.out, "locked: 7 owner \"Smith lab\"")) << last_;
    ToolRun describe = Run({"describe", "12", "2", "Left arm"});
    ASSERT_EQ(describe.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(describe.out, "description \"Left arm\"")) << last_;
    ToolRun setId = Run({"set-id", "12", "2", "4242"});
    ASSERT_EQ(setId.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(setId.out, "identifier 4242")) << last_;

    // A later process (with a fresh simulated chain) finds all three in
    // the INI file of the Windows directory.
    ToolRun list = Run({"list"});
    ASSERT_EQ(list.exitCode, 0) << last_;
    std::string det2 = Listed(list.out, 12, 2);
    EXPECT_TRUE(Contains(det2, "detector 2: Left arm\n")) << det2;
    EXPECT_TRUE(Contains(det2, "identifier   4242\n")) << det2;
    EXPECT_TRUE(Contains(det2, "lock         7 owner \"Smith lab\"")) << det2;
    EXPECT_TRUE(Contains(Listed(list.out, 12, 1), "lock         0 (free)")) << last_;
    std::string ini = ReadText(windir_ / "HVNACC32.INI");
    EXPECT_TRUE(Contains(ini, "[M12S02]")) << ini;
    EXPECT_TRUE(Contains(ini, "@LOCK=7 Smith lab")) << ini;

    ToolRun unlock = Run({"unlock", "12", "2"});
    ASSERT_EQ(unlock.exitCode, 0) << last_;
    ToolRun after = Run({"list"});
    EXPECT_TRUE(Contains(Listed(after.out, 12, 2), "lock         0")) << last_;
}

TEST_F(KestrelOperations, StartTimeIsStampedAndFoundAgain) {
    std::uint32_t before = static_cast<std::uint32_t>(std::time(nullptr));
    ToolRun stamp = Run({"start-time", "9", "2"});
    std::uint32_t after = static_cast<std::uint32_t>(std::time(nullptr));
    ASSERT_EQ(stamp.exitCode, 0) << last_;
    std::smatch seconds;
    ASSERT_TRUE(std::regex_search(stamp.out, seconds, std::regex(R"(start time [^(]*\((\d+)\))")))
        << last_;
    std::uint32_t stamped = static_cast<std::uint32_t>(std::stoul(seconds[1].str()));
    EXPECT_GE(stamped, before);
    EXPECT_LE(stamped, after);

    ToolRun shown = Run({"start-time", "9", "2", "--show"});
    ASSERT_EQ(shown.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(shown.out, "(" + std::to_string(stamped) + ")")) << last_;
    // The other input was never stamped.
    ToolRun other = Run({"start-time", "9", "1", "--show"});
    EXPECT_TRUE(Contains(other.out, "start time none (0)")) << last_;
}

TEST_F(KestrelOperations, RawCommandShowsResponseAndStatus) {
    ToolRun version = Run({"raw", "9", "1", "SHOW_VERS"});
    ASSERT_EQ(version.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(version.out, "response: $F0919-005\n")) << last_;
    EXPECT_TRUE(Contains(version.out, "status: 0 0\n")) << last_;

    ToolRun refused = Run({"raw", "9", "1", "NO_SUCH_COMMAND"});
    EXPECT_EQ(refused.exitCode, 1) << last_;
    EXPECT_TRUE(Contains(refused.err, "refused")) << last_;
    EXPECT_FALSE(Contains(refused.out, "status: 0 ")) << last_;
}

TEST_F(KestrelOperations, RoiSetAndClear) {
    ToolRun set = Run({"roi", "set", "9", "1", "100", "50"});
    ASSERT_EQ(set.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(set.out, "roi set channels 100 to 149: result 1, status 0 0")) << last_;
    ToolRun clear = Run({"roi", "clear", "12", "3", "0", "16384"});
    ASSERT_EQ(clear.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(clear.out, "result 1")) << last_;
}

TEST(KestrelRefusals, AViewTheDetectorLacksFailsTheOperation) {
    // The demo chain's inputs have two views; the unit refuses view 5.
    TempDir scratch;
    TempDir windir;
    std::vector<std::string> args{"--sim-demo", "roi", "set", "9", "1", "100", "50", "--view", "5"};
    ToolRun roi = RunTool(args, {windir.path(), "", {}}, scratch.path());
    EXPECT_EQ(roi.exitCode, 1) << Describe(args, roi);
    EXPECT_TRUE(Contains(roi.out, "result -1")) << Describe(args, roi);
    std::vector<std::string> read{"--sim-demo", "read", "9", "1", "--view", "5"};
    ToolRun refused = RunTool(read, {windir.path(), "", {}}, scratch.path());
    EXPECT_EQ(refused.exitCode, 1) << Describe(read, refused);
    EXPECT_TRUE(Contains(refused.err, "refused to read")) << Describe(read, refused);
}

TEST_F(KestrelOperations, TraceIsShownOnlyWhenAskedFor) {
    ToolRun quiet = Run({"list"});
    ASSERT_EQ(quiet.exitCode, 0) << last_;
    EXPECT_FALSE(Contains(quiet.err, "detectors for local access")) << last_;
    ToolRun traced = Run({"--trace", "1", "list"});
    ASSERT_EQ(traced.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(traced.err, "Kestrel: 6 detectors for local access")) << last_;
    ToolRun command = Run({"trace", "0"});
    ASSERT_EQ(command.exitCode, 0) << last_;
    EXPECT_TRUE(Contains(command.out, "trace level 0")) << last_;
    EXPECT_TRUE(Contains(command.err, "detectors for local access")) << last_;
}

}  // namespace
}  // namespace kestrel_tool_test

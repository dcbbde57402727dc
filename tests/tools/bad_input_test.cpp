// Every mistake a user can make ends with a message and the exit code a
// script can rely on (1 refused, 2 bad usage or input, 3 a missing
// environment); never a crash.
#include <dirent.h>
#include <dlfcn.h>

#include <cstring>
#include <ostream>

#include "tools/chain_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

struct Case {
    const char* name;
    std::vector<std::string> args;  // "@CHAIN", "@GARBAGE" and "@WINDIR" stand for the test's files
    int exitCode;
    const char* message;  // a part of what the tool says on standard error
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class KestrelBadInput : public ToolTest, public ::testing::WithParamInterface<Case> {};

TEST_P(KestrelBadInput, ExitsWithItsCodeAndAMessage) {
    kestrel_test::WriteText(windir_ / "garbage.conf", "[unit 9]\nthis is not a key\n");
    std::vector<std::string> args;
    for (const std::string& arg : GetParam().args)
        args.push_back(arg == "@CHAIN" ? chain_ : arg == "@GARBAGE" ? windir_ / "garbage.conf"
                                                : arg == "@WINDIR"  ? windir_.path() : arg);
    ToolRun run = RunTool(args, {windir_.path(), "", {}}, scratch_.path());
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << Describe(args, run);
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << Describe(args, run);
}

INSTANTIATE_TEST_SUITE_P(
    Usage, KestrelBadInput,
    ::testing::Values(
        Case{"McbNumber17", {"--sim", "@CHAIN", "raw", "17", "1", "SHOW_VERS"}, 2, "unknown MCB number 17"},
        Case{"AbsentMcb", {"--sim", "@CHAIN", "read", "10", "1"}, 2, "no MCB answers at number 10"},
        Case{"ListAbsentMcb", {"--sim", "@CHAIN", "list", "10"}, 2, "no MCB answers at number 10"},
        Case{"DetectorBeyondTheUnit", {"--sim", "@CHAIN", "list", "9", "3"}, 2, "MCB 9 has detectors 1 to 2; there is no detector 3"},
        Case{"DetectorBeyondTheDevices", {"--sim", "@CHAIN", "start", "12", "5"}, 2, "MCB 12 has detectors 1 to 4; there is no detector 5"},
        Case{"MissingSimConfig", {"--sim", "@WINDIR/none.conf", "list"}, 2, "cannot use the simulator configuration"},
        Case{"GarbledSimConfig", {"--sim", "@GARBAGE", "list"}, 2, "line 2"},
        Case{"UnknownSubcommand", {"frobnicate"}, 2, "unknown subcommand \"frobnicate\""},
        Case{"StartPastTheChannels", {"--sim", "@CHAIN", "read", "9", "1", "--start", "2048"}, 2, "outside the 2048 channels"},
        Case{"RunPastTheChannels", {"--sim", "@CHAIN", "read", "9", "1", "--start", "2000", "--count", "49"}, 2, "runs past the 2048 channels"},
        Case{"RoiPastTheChannels", {"--sim", "@CHAIN", "roi", "set", "12", "1", "16380", "5"}, 2, "outside the 16384 channels"},
        Case{"ViewWithoutViews", {"--sim", "@CHAIN", "read", "9", "1", "--view", "1"}, 2, "has no views"},
        Case{"RoiViewRefused", {"--sim-demo", "roi", "set", "9", "1", "100", "50", "--view", "5"}, 1, "selecting view 5 failed"},
        Case{"ReadViewRefused", {"--sim-demo", "read", "9", "1", "--view", "5"}, 1, "selecting view 5 failed"},
        Case{"WaitSecondsNotANumber", {"--sim", "@CHAIN", "wait", "9", "1", "--seconds", "nan"}, 2, "--seconds must be"},
        Case{"JsonAndCsvOnStdout", {"--sim", "@CHAIN", "read", "9", "1", "--json", "--csv", "-"}, 2, "standard output"},
        Case{"UnwritableExport", {"--sim", "@CHAIN", "read", "9", "1", "--csv", "@WINDIR/no/x.csv"}, 2, "cannot write"},
        Case{"QuoteInDescription", {"--sim", "@CHAIN", "describe", "9", "1", "a \"b\""}, 2, "double quote"},
        Case{"NoDriverService", {"list"}, 3, "no driver service answers"},
        Case{"AddinMissing", {"--sim", "@CHAIN", "--addin", "@WINDIR/none.so", "list"}, 3, "cannot find the add-in library"},
        Case{"AddinNotALibrary", {"--sim", "@CHAIN", "--addin", "@CHAIN", "list"}, 3, "cannot load the add-in library"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

using KestrelEnvironment = ToolTest;

TEST_F(KestrelEnvironment, ALibraryWithoutTheExportIsNoAddin) {
    // A real shared library, loadable, but not an add-in: the C library,
    // named where the tool must look for the add-in.
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&std::strlen), &info), 0);
    std::vector<std::string> args{"--sim", chain_, "list"};
    ToolRun run = RunTool(args, {windir_.path(), "", {{"KESTREL_ADDIN", info.dli_fname}}}, scratch_.path());
    EXPECT_EQ(run.exitCode, 3) << Describe(args, run);
    EXPECT_NE(run.err.find("exports no AAPI_Addin"), std::string::npos) << Describe(args, run);
}

TEST_F(KestrelEnvironment, TheAddinFindsTheHostFunctionsInTheProgram) {
    // The dynamic linker's account of which object each lookup bound to.
    std::vector<std::string> args{"--sim", chain_, "raw", "9", "1", "SHOW_VERS"};
    ToolRun run = RunTool(args, {windir_.path(), "", {{"LD_DEBUG", "bindings"}, {"LD_DEBUG_OUTPUT", scratch_ / "ld"}}},
                          scratch_.path());
    ASSERT_EQ(run.exitCode, 0) << Describe(args, run);
    std::string bindings;
    DIR* dir = ::opendir(scratch_.path().c_str());
    while (dirent* entry = dir ? ::readdir(dir) : nullptr)
        if (std::strncmp(entry->d_name, "ld.", 3) == 0) bindings += kestrel_test::ReadText(scratch_ / entry->d_name);
    if (dir) ::closedir(dir);
    for (const char* symbol : {"LocalGuessFeatures", "LocalGuessMasks"})
        EXPECT_NE(bindings.find(std::string("to ") + KESTREL_TOOL_PROGRAM + " [0]: normal symbol `" + symbol + "'"),
                  std::string::npos) << symbol;
}

}  // namespace
}  // namespace kestrel_tool_test

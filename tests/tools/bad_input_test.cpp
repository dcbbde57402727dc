// Every mistake a user can make ends with a message and the exit code a
// script can rely on: 2 for bad usage or input, 3 for a missing
// environment; never a crash.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "posix/temp_dir.h"
#include "tools/chain_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

using kestrel_test::TempDir;

struct Case {
    const char* name;
    std::vector<std::string> args;  // "@CHAIN" and "@WINDIR" stand for the test's files
    int exitCode;
    const char* message;  // a part of what the tool says on standard error
};

// Test names carry the case's name; its bytes say nothing.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class KestrelBadInput : public ::testing::TestWithParam<Case> {};

TEST_P(KestrelBadInput, ExitsWithItsCodeAndAMessage) {
    TempDir scratch;
    TempDir windir;
    std::string chain = WriteChain(windir / "chain.conf", kStoppedChain);
    kestrel_test::WriteText(windir / "garbage.conf", "[unit 9]\nthis is not a key\n");
    std::vector<std::string> args;
    for (const std::string& arg : GetParam().args) {
        if (arg == "@CHAIN") args.push_back(chain);
        else if (arg == "@GARBAGE") args.push_back(windir / "garbage.conf");
        else if (arg == "@WINDIR") args.push_back(windir.path());
        else args.push_back(arg);
    }
    ToolRun run = RunTool(args, {windir.path(), "", {}}, scratch.path());
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << Describe(args, run);
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << Describe(args, run);
}

INSTANTIATE_TEST_SUITE_P(
    Usage, KestrelBadInput,
    ::testing::Values(
        Case{"McbNumber17", {"--sim", "@CHAIN", "raw", "17", "1", "SHOW_VERS"}, 2,
             "unknown MCB number 17"},
        Case{"McbNumber8", {"--sim", "@CHAIN", "read", "8", "1"}, 2, "unknown MCB number 8"},
        Case{"McbNotANumber", {"--sim", "@CHAIN", "raw", "nine", "1", "SHOW_VERS"}, 2,
             "MCB number must be a whole number"},
        Case{"ExtraArgument", {"--sim", "@CHAIN", "list", "9"}, 2, "not expected"},
        Case{"AbsentMcb", {"--sim", "@CHAIN", "read", "10", "1"}, 2,
             "no MCB answers at number 10"},
        Case{"DetectorBeyondTheUnit", {"--sim", "@CHAIN", "read", "9", "3"}, 2,
             "MCB 9 has detectors 1 to 2; there is no detector 3"},
        Case{"DetectorBeyondTheDevices", {"--sim", "@CHAIN", "lock", "12", "5", "1", "me"}, 2,
             "MCB 12 has detectors 1 to 4; there is no detector 5"},
        Case{"DetectorZero", {"--sim", "@CHAIN", "unlock", "9", "0"}, 2,
             "unknown detector number 0"},
        Case{"MissingSimConfig", {"--sim", "@WINDIR/none.conf", "list"}, 2,
             "cannot use the simulator configuration"},
        Case{"GarbledSimConfig", {"--sim", "@GARBAGE", "list"}, 2, "line 2"},
        Case{"SimConfigIsADirectory", {"--sim", "@WINDIR", "list"}, 2, "cannot read the file"},
        Case{"DemoSecondsNotANumber", {"demo", "--out", "@WINDIR", "--seconds", "nan"}, 2,
             "--seconds must be between 0 and 30"},
        Case{"UnknownSubcommand", {"frobnicate"}, 2, "unknown subcommand \"frobnicate\""},
        Case{"UnknownRoiSubcommand", {"roi", "move", "9", "1", "0", "1"}, 2,
             "unknown subcommand \"move\""},
        Case{"NoSubcommand", {}, 2, "subcommand is required"},
        Case{"MissingArgument", {"--sim", "@CHAIN", "raw", "9", "1"}, 2, "COMMAND is required"},
        Case{"StartPastTheChannels", {"--sim", "@CHAIN", "read", "9", "1", "--start", "2048"}, 2,
             "outside the 2048 channels"},
        Case{"RunPastTheChannels",
             {"--sim", "@CHAIN", "read", "9", "1", "--start", "2000", "--count", "49"}, 2,
             "runs past the 2048 channels"},
        Case{"RoiPastTheChannels", {"--sim", "@CHAIN", "roi", "set", "12", "1", "16380", "5"}, 2,
             "outside the 16384 channels"},
        Case{"UnwritableExport",
             {"--sim", "@CHAIN", "read", "9", "1", "--csv", "@WINDIR/no/such/dir/x.csv"}, 2,
             "cannot write"},
        Case{"QuoteInDescription", {"--sim", "@CHAIN", "describe", "9", "1", "a \"b\""}, 2,
             "double quote"},
        Case{"SimAndSimDemo", {"--sim", "@CHAIN", "--sim-demo", "list"}, 2, "excludes"},
        Case{"NoDriverService", {"list"}, 3, "no driver service answers"},
        Case{"AddinMissing", {"--sim", "@CHAIN", "--addin", "@WINDIR/none.so", "list"}, 3,
             "cannot find the add-in library"},
        Case{"AddinNotALibrary", {"--sim", "@CHAIN", "--addin", "@CHAIN", "list"}, 3,
             "cannot load the add-in library"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(KestrelEnvironment, ALibraryWithoutTheExportIsNoAddin) {
    // A real shared library, loadable, but not an add-in: the C library.
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&std::strlen), &info), 0);
    ASSERT_NE(info.dli_fname, nullptr);
    TempDir scratch;
    TempDir windir;
    std::string chain = WriteChain(windir / "chain.conf", kStoppedChain);
    std::vector<std::string> args{"--sim", chain, "list"};
    ToolRun run = RunTool(args, {windir.path(), "", {{"KESTREL_ADDIN", info.dli_fname}}},
                          scratch.path());
    EXPECT_EQ(run.exitCode, 3) << Describe(args, run);
    EXPECT_NE(run.err.find("exports no AAPI_Addin"), std::string::npos) << Describe(args, run);
}

TEST(KestrelEnvironment, TheAddinFindsTheHostFunctionsInTheProgram) {
    // The dynamic linker's account of which object each lookup bound to.
    TempDir scratch;
    TempDir windir;
    std::string chain = WriteChain(windir / "chain.conf", kStoppedChain);
    std::vector<std::string> args{"--sim", chain, "raw", "9", "1", "SHOW_VERS"};
    std::string log = scratch / "ld";
    ToolRun run = RunTool(args,
                          {windir.path(), "", {{"LD_DEBUG", "bindings"}, {"LD_DEBUG_OUTPUT", log}}},
                          scratch.path());
    ASSERT_EQ(run.exitCode, 0) << Describe(args, run);
    std::string bindings;
    DIR* dir = ::opendir(scratch.path().c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, "ld.", 3) == 0)
            bindings += kestrel_test::ReadText(scratch / entry->d_name);
    ::closedir(dir);
    std::string program = std::string(KESTREL_TOOL_PROGRAM);
    for (const char* symbol : {"LocalGuessFeatures", "LocalGuessMasks"}) {
        std::string binding = "to " + program + " [0]: normal symbol `" + symbol + "'";
        EXPECT_NE(bindings.find(binding), std::string::npos) << symbol;
    }
}

TEST(KestrelEnvironment, TheAddinNamedInTheEnvironmentIsUsed) {
    TempDir scratch;
    TempDir windir;
    std::string chain = WriteChain(windir / "chain.conf", kStoppedChain);
    std::vector<std::string> args{"--sim", chain, "list"};
    ToolRun missing = RunTool(args, {windir.path(), "", {{"KESTREL_ADDIN", windir / "x.so"}}},
                              scratch.path());
    EXPECT_EQ(missing.exitCode, 3) << Describe(args, missing);
    EXPECT_NE(missing.err.find(windir / "x.so"), std::string::npos) << Describe(args, missing);
    ToolRun found = RunTool(args, {windir.path(), "", {{"KESTREL_ADDIN", KESTREL_ADDIN_LIBRARY}}},
                            scratch.path());
    EXPECT_EQ(found.exitCode, 0) << Describe(args, found);
}

}  // namespace
}  // namespace kestrel_tool_test

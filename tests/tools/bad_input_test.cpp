// Every mistake a user can make ends with a message and the exit code a script can rely on (1 refused, 2
// bad usage or input, 3 a missing environment); never a crash, and every line of it starts with "kestrel: ".
#include <dlfcn.h>

#include <cstring>

#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

// "@CHAIN", "@LIBC" and "@WINDIR" in `args` stand for files; `message` is a part of what the tool says.
struct Case { const char* name; std::vector<std::string> args; int exitCode; const char* message; };

class KestrelBadInput : public ToolTest, public ::testing::WithParamInterface<Case> {};

TEST_P(KestrelBadInput, ExitsWithItsCodeAndAMessage) {
    std::vector<std::string> args;
    Dl_info libc{};  // a real shared library, loadable, but not an add-in
    ::dladdr(reinterpret_cast<void*>(&std::strlen), &libc);
    for (const std::string& arg : GetParam().args)
        args.push_back(arg == "@CHAIN" ? chain_ : arg == "@LIBC" ? libc.dli_fname : arg.rfind("@WINDIR", 0) == 0 ? windir_.path() + arg.substr(7) : arg);
    ToolRun run = RunTool(args, {windir_.path(), "", {}}, scratch_.path());
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << Describe(args, run);
    EXPECT_NE((run.out + run.err).find(GetParam().message), std::string::npos) << Describe(args, run);
    for (std::size_t line = 0; line < run.err.size(); line = run.err.find('\n', line) + 1)
        EXPECT_EQ(run.err.compare(line, 9, "kestrel: "), 0) << Describe(args, run);
    for (const char* file : {"x.n42", "x.csv"}) EXPECT_EQ(::access((windir_ / file).c_str(), F_OK), -1) << file << " was written";
}

const std::string k129(129, 'd');
std::string Accents(int n) { std::string text; while (n-- > 0) text += "\xC3\xA9"; return text; }

INSTANTIATE_TEST_SUITE_P(
    Usage, KestrelBadInput,
    ::testing::Values(
        Case{"McbNumber17", {"--sim", "@CHAIN", "raw", "17", "1", "SHOW_VERS"}, 2, "unknown MCB number 17"},
        Case{"MisspeltSubcommand", {"lsit"}, 2, "kestrel: unknown subcommand \"lsit\"\nkestrel: Run with --help"},
        Case{"ListAbsentMcb", {"--sim", "@CHAIN", "list", "10"}, 2, "no MCB answers at number 10"},
        Case{"DetectorBeyondTheDevices", {"--sim", "@CHAIN", "start", "12", "5"}, 2, "MCB 12 has detectors 1 to 4; there is no detector 5"},
        Case{"StartPastTheChannels", {"--sim", "@CHAIN", "read", "9", "1", "--start", "2048"}, 2, "outside the 2048 channels"},
        Case{"StartAtTheLastChannelNumber", {"--sim", "@CHAIN", "read", "9", "1", "--start", "4294967295"}, 2, "--start 4294967295 is outside"},
        Case{"StartPast32Bits", {"--sim", "@CHAIN", "read", "9", "1", "--start", "4294967296"}, 2, "start channel 4294967296 is out of range"},
        Case{"RunPastTheChannels", {"--sim", "@CHAIN", "read", "9", "1", "--start", "2000", "--count", "49"}, 2, "runs past the 2048 channels"},
        Case{"RoiPastTheChannels", {"--sim", "@CHAIN", "roi", "set", "12", "1", "16380", "5"}, 2, "outside the 16384 channels"},
        Case{"ViewWithoutViews", {"--sim", "@CHAIN", "read", "9", "1", "--view", "1"}, 2, "has no views"},
        Case{"RoiViewRefused", {"--sim-demo", "roi", "set", "9", "1", "100", "50", "--view", "5"}, 1, "the ROI failed: the detector or its selection was not usable; selecting view 5 failed"},
        Case{"ReadViewRefused", {"--sim-demo", "read", "9", "1", "--view", "5"}, 1, "selecting view 5 failed"},
        Case{"WaitSecondsNotANumber", {"--sim", "@CHAIN", "wait", "9", "1", "--seconds", "nan"}, 2, "--seconds must be"},
        Case{"JsonAndCsvOnStdout", {"--sim", "@CHAIN", "read", "9", "1", "--json", "--csv", "-"}, 2, "standard output"},
        Case{"PngOnStdout", {"--sim", "@CHAIN", "read", "9", "1", "--png", "-"}, 2, "--png cannot write to standard output ('-')"},
        Case{"UnwritableExport", {"--sim", "@CHAIN", "read", "9", "1", "--csv", "@WINDIR/no/x.csv"}, 2, "cannot write"},
        Case{"ANewlineInAPath", {"--sim", "@CHAIN", "read", "9", "1", "--csv", "@WINDIR/a\nb/x.csv"}, 2, "/a?b/x.csv: no directory"},
        Case{"N42OfAnUnknownRealTime", {"--sim", "@CHAIN", "read", "12", "3", "--csv", "@WINDIR/x.csv", "--n42", "@WINDIR/x.n42"}, 1,
             "give it with --real-time SECONDS"},
        Case{"RealTimeThatIsKnown", {"--sim", "@CHAIN", "read", "9", "1", "--n42", "@WINDIR/x.n42", "--real-time", "5"}, 2, "is known (100 s)"},
        Case{"WindirIsAFile", {"--windir", "@CHAIN", "list"}, 2, "is not a directory"},
        Case{"QuoteInDescription", {"--sim", "@CHAIN", "describe", "9", "1", "a \"b\""}, 2, "double quote"},
        Case{"DescriptionOf129Characters", {"--sim", "@CHAIN", "describe", "12", "1", k129}, 2, "at most 128 characters"},
        Case{"DescriptionTheIniFileTrims", {"--sim", "@CHAIN", "describe", "12", "1", " Left arm "}, 1, "read back differs from the one stored"},
        Case{"DescriptionTooLongForTheUnit", {"--sim", "@CHAIN", "describe", "9", "1", Accents(65)}, 2, "at most 128 bytes each"},
        Case{"NoDriverService", {"list"}, 3, "no driver service answers"},
        Case{"AddinMissing", {"--sim", "@CHAIN", "--addin", "@WINDIR/none.so", "list"}, 3, "cannot find the add-in library"},
        Case{"AddinNotALibrary", {"--sim", "@CHAIN", "--addin", "@CHAIN", "list"}, 3, "cannot load the add-in library"},
        Case{"AddinWithoutTheExport", {"--sim", "@CHAIN", "--addin", "@LIBC", "list"}, 3, "exports no AAPI_Addin"},
        Case{"HelpNamesEveryExitCode", {"--help"}, 0, "77 not allowed to use the units"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel_tool_test

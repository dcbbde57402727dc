#include "kestrel/cli.h"

#include <CLI/CLI.hpp>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/exit_codes.h"
#include "kestrel/options.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {
namespace {

// An integer from `low` to `high`; otherwise the message names what is
// wrong and what would be right.
// `unknownWord`: out of range means there is no such thing ("unknown MCB
// number 17") rather than a value too big or too small.
CLI::Validator Within(long long low, long long high, const std::string& what,
                      bool unknownWord = false) {
    std::string range = std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            long long value = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || end == text.c_str() || *end != '\0' || errno == ERANGE)
                return what + " must be a whole number, not \"" + text + "\"";
            if (value < low || value > high)
                return (unknownWord ? "unknown " + what + " " + text
                                    : what + " " + text + " is out of range") +
                       ": valid " + what + "s are " + range;
            return std::string();
        },
        range, what);
}

// The detector a command works on. A command that `changes` it is refused
// on a detector another owner has locked, unless --owner or --force say
// otherwise; `lock` gives the owner as an argument instead.
void AddTarget(CLI::App* command, DetectorArgs* target, bool changes, bool ownerOption = true) {
    command->add_option("MCB", target->mcb, "MCB number, 9 to 16")
        ->required()
        ->check(Within(9, 16, "MCB number", true));
    command->add_option("DET", target->det, "detector number within the MCB, from 1")
        ->required()
        ->check(Within(1, 16, "detector number", true));
    target->changes = changes;
    if (!changes) return;
    if (ownerOption)
        command->add_option("--owner", target->owner,
                            "the lock owner this run acts for: a detector locked by this owner is "
                            "not refused")
            ->type_name("NAME");
    command->add_flag("--force", target->force,
                      "go ahead even when another owner has locked the detector");
}

// One line, as every error line of the tool.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += c == '\n' ? std::string("; ") : std::string(1, c);
    return TerminalText(line);
}

// What an exit code means, for --help. No default: an exit code without a
// meaning here does not compile.
const char* ExitCodeMeaning(ExitCode code) {
    switch (code) {
    case kExitOk: return "done";
    case kExitFailed:
        return "the add-in or the MCB said no, a detector is locked by another owner, a read failed, "
               "a time an export would state is not known, or output could not be written";
    case kExitUsage: return "bad usage or input";
    case kExitEnvironment:
        return "the add-in library or the driver service is not available, or the service went "
               "away during the run";
    case kExitTimeout: return "a wait lasted longer than --timeout";
    case kExitNotAllowed:
        return "not allowed to use the units of the Windows directory (not in its group)";
    case kExitClosedPipe:
        return "standard output was closed by its reader (as for a program ended by SIGPIPE; "
               "nothing is said)";
    case kExitStopSignal: return "a stop signal N";
    }
    return nullptr;  // not an exit code of the tool
}

// Every exit code, in order, the stop signals last: "Exit codes: 0 done; ...".
std::string ExitCodeHelp() {
    std::string help = "Exit codes:";
    for (int value = 0; value <= 255; ++value)
        if (const char* meaning = ExitCodeMeaning(static_cast<ExitCode>(value));
            meaning != nullptr && value != kExitStopSignal)
            help += " " + std::to_string(value) + " " + meaning + ";";
    return help + " " + std::to_string(kExitStopSignal) + " + N " +
           ExitCodeMeaning(kExitStopSignal) + ".";
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    CLI::App app{"kestrel: the command-line host of the Kestrel add-in. It loads the add-in "
                 "library as the host library does and reaches the MCB units on the printer "
                 "port through it (on Linux: through the driver service of the Windows "
                 "directory, or a simulated chain served in process).\n\n"
                 "Start with:  kestrel demo",
                 "kestrel"};
    app.require_subcommand(1);
    app.footer(ExitCodeHelp());
    app.fallthrough();
    app.set_version_flag("--version", std::string("kestrel ") + KESTREL_VERSION);
    // Every error line of the tool starts with its name.
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return "kestrel: " + OneLine(error.what()) + "\nkestrel: Run with --help for more information.\n";
    });

    GlobalOptions global;
    app.add_option("--windir", global.windir,
                   "Windows directory of the system to use (default: $WINDIR, else "
                   "/var/lib/hvnacc32; with --sim: a temporary one)")
        ->type_name("DIR")
        ->check([](const std::string& path) {
            struct stat info;
            return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)
                       ? path + " is not a directory"
                       : std::string();
        });
    auto* simOption = app.add_option("--sim", global.simConfig,
                                     "serve the chain described in this file in process, for "
                                     "this run")
                          ->type_name("CONFIG");
    auto* simDemo = app.add_flag("--sim-demo", global.simDemo,
                                 "serve the built-in demo chain in process, for this run");
    simOption->excludes(simDemo);
    app.add_option("--addin", global.addinPath,
                   "the add-in library (default: $KESTREL_ADDIN, else kestrel.so beside this "
                   "program)")
        ->type_name("PATH");
    app.add_option("--trace", global.trace,
                   "the add-in's trace level (0 errors and start-up, 1 progress, 3 detail), "
                   "written to standard error; without it the trace is not shown. On Linux, "
                   "\"Error opening MultifunctionAdapter key\" at start-up is the add-in's "
                   "normal fallback when the registry file (WINDIR/registry.txt) has no printer-port "
                   "entry: it then uses the standard port address 0x378, which suits the "
                   "simulated chain (the README says how to give the file an entry for a real "
                   "port)")
        ->type_name("LEVEL")
        ->check(Within(0, 1000, "trace level"));
    app.add_flag("--progress", global.progress,
                 "show the progress bar of reads even when standard error is no terminal");
    app.add_flag("--quiet", global.quiet,
                 "no reports or progress: only the output asked for, and errors");
    app.add_option("--timeout", global.timeout,
                   "give up (exit 4) when one wait (for the MCB mutex, the driver service or an "
                   "MCB) lasts longer than SECONDS; without it the tool waits as long as it "
                   "takes and says what for")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.1, 86400.0));

    std::function<int()> run;

    ListArgs listArgs;
    auto* list = app.add_subcommand("list", "list the units and their detectors (or one MCB, or "
                                            "one detector)");
    list->add_option("MCB", listArgs.mcb, "only this MCB, 9 to 16")
        ->check(Within(9, 16, "MCB number", true));
    list->add_option("DET", listArgs.det, "only this detector of it")
        ->check(Within(1, 16, "detector number", true));
    list->add_flag("--json", listArgs.json, "JSON instead of text");
    list->callback([&] { run = [&] { return RunList(global, listArgs); }; });

    RawArgs raw;
    auto* rawCommand = app.add_subcommand("raw", "send one command to an MCB and show its answer");
    AddTarget(rawCommand, &raw.target, true);  // a raw command may change anything
    rawCommand->add_option("COMMAND", raw.command, "the command text, e.g. \"SHOW_VERS\"")
        ->required();
    rawCommand->callback([&] { run = [&] { return RunRaw(global, raw); }; });

    ReadArgs read;
    auto* readCommand = app.add_subcommand(
        "read", "read a spectrum; export it as CSV or N42 or plot it as PNG (no file: CSV on "
                "standard output)");
    AddTarget(readCommand, &read.target, false);
    readCommand->add_option("--start", read.start, "first channel (default 0)")
        ->check(Within(0, 4294967295LL, "start channel"));
    readCommand->add_option("--count", read.count, "number of channels (default: to the end)")
        ->check(Within(1, 4294967295LL, "channel count"));
    readCommand->add_option("--view", read.view, "view number (default 0)")
        ->check(Within(0, 1000, "view number"));
    readCommand->add_option("--csv", read.csv, "write CSV (channel,counts) to this file ('-': "
                                               "standard output)")
        ->type_name("FILE");
    readCommand->add_option("--n42", read.n42, "write an ANSI N42.42 XML document to this file "
                                               "('-': standard output)")
        ->type_name("FILE");
    readCommand->add_option("--png", read.png, "plot the spectrum into this PNG file (a file: "
                                               "not standard output)")
        ->type_name("FILE");
    readCommand->add_option("--real-time", read.realTime,
                            "the real time of an input whose real time kestrel does not know (one "
                            "stopped at a time nobody recorded), for the exports; the N42 file "
                            "says it was given")
        ->type_name("SECONDS")
        ->check(Within(0, 4294967295LL, "real time"));
    readCommand->add_flag("--json", read.json, "write the spectrum and its times as JSON on "
                                               "standard output");
    readCommand->add_flag("--log", read.logScale, "plot the counts on a log scale");
    readCommand->callback([&] { run = [&] { return RunRead(global, read); }; });

    // Acquisition control: start, stop, clear, wait.
    AcquireArgs acquire;
    struct AcquireCommand {
        const char* name;
        const char* help;
        int (*runner)(const GlobalOptions&, const AcquireArgs&);
    };
    for (const AcquireCommand& each : {
             AcquireCommand{"start", "start an input counting (and stamp its start time); with "
                                     "--clear a new run on a cleared spectrum, without it the "
                                     "real time carries on from the counts already there", RunStart},
             AcquireCommand{"stop", "stop an input counting (and record when)", RunStop},
             AcquireCommand{"clear", "clear an input's spectrum (a counting input starts a new run)",
                            RunClear},
             AcquireCommand{"wait", "wait until an input stops counting", RunWait}}) {
        auto* command = app.add_subcommand(each.name, each.help);
        std::string name = each.name;
        AddTarget(command, &acquire.target, true);  // wait changes it with --seconds only
        if (name == "start") command->add_flag("--clear", acquire.clear, "clear the spectrum first");
        if (name == "start" || name == "wait")
            command->add_option("--seconds", acquire.seconds,
                                "count this many seconds from now, then stop the input (if it "
                                "counts)")
                ->check(CLI::Range(0.0, 31536000.0));
        auto runner = each.runner;
        command->callback([&, runner] { run = [&, runner] { return runner(global, acquire); }; });
    }

    RoiArgs roi;
    auto* roiCommand = app.add_subcommand("roi", "set or clear a region of interest");
    roiCommand->require_subcommand(1);
    for (bool clear : {false, true}) {
        auto* command = roiCommand->add_subcommand(
            clear ? "clear" : "set", clear ? "clear the ROI marks of a run of channels"
                                           : "mark a run of channels as a region of interest");
        AddTarget(command, &roi.target, true);
        command->add_option("START", roi.start, "first channel")
            ->required()
            ->check(Within(0, 4294967295LL, "start channel"));
        command->add_option("LENGTH", roi.length, "number of channels")
            ->required()
            ->check(Within(1, 4294967295LL, "length"));
        command->add_option("--view", roi.view, "view number (default 0)")
            ->check(Within(0, 1000, "view number"));
        command->callback([&, clear] {
            roi.clear = clear;
            run = [&] { return RunRoi(global, roi); };
        });
    }

    LockArgs lock;
    auto* lockCommand = app.add_subcommand("lock", "lock a detector for an owner");
    AddTarget(lockCommand, &lock.target, true, false);
    lockCommand->add_option("NUMBER", lock.number, "lock number, 1 to 4294967295")
        ->required()
        ->check(Within(1, 4294967295LL, "lock number"));
    lockCommand->add_option("OWNER", lock.target.owner, "who holds the lock")->required();
    lockCommand->callback([&] { run = [&] { return RunLock(global, lock); }; });

    DetectorArgs unlock;
    auto* unlockCommand = app.add_subcommand("unlock", "release a detector's lock");
    AddTarget(unlockCommand, &unlock, true);
    unlockCommand->callback([&] { run = [&] { return RunUnlock(global, unlock); }; });

    DescribeArgs describe;
    auto* describeCommand = app.add_subcommand("describe", "store a detector's description");
    AddTarget(describeCommand, &describe.target, true);
    describeCommand->add_option("TEXT", describe.text, "the description")->required();
    describeCommand->callback([&] { run = [&] { return RunDescribe(global, describe); }; });

    SetIdArgs setId;
    auto* setIdCommand = app.add_subcommand("set-id", "store a detector's identifier");
    AddTarget(setIdCommand, &setId.target, true);
    setIdCommand->add_option("NUMBER", setId.id, "the identifier, 0 to 4294967295")
        ->required()
        ->check(Within(0, 4294967295LL, "identifier"));
    setIdCommand->callback([&] { run = [&] { return RunSetId(global, setId); }; });

    StartTimeArgs startTime;
    auto* startTimeCommand = app.add_subcommand(
        "start-time", "stamp a detector's start time with the current time and show it");
    AddTarget(startTimeCommand, &startTime.target, true);  // unless --show
    startTimeCommand->add_flag("--show", startTime.showOnly, "only show it, stamp nothing");
    startTimeCommand->callback([&] { run = [&] { return RunStartTime(global, startTime); }; });

    DemoArgs demo;
    auto* demoCommand = app.add_subcommand(
        "demo", "the whole tour on a built-in simulated chain, no set-up needed: list, start "
                "an acquisition, read, export CSV and N42, plot PNG");
    demoCommand->add_option("--out", demo.out, "directory for the files (default "
                                               "./kestrel-demo-out)")
        ->type_name("DIR");
    demoCommand->add_option("--seconds", demo.seconds, "how long to let the counts grow "
                                                       "(default 1.5)");
    demoCommand->callback([&] { run = [&] { return RunDemo(global, demo); }; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // A misspelt subcommand is left over as an extra argument, and
        // CLI11 would only say that a subcommand is required.
        CLI::App* reached = &app;
        while (!reached->get_subcommands().empty()) reached = reached->get_subcommands().front();
        bool takesSubcommand =
            !reached->get_subcommands([](CLI::App*) { return true; }).empty();
        std::vector<std::string> leftover = app.remaining(true);
        if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && takesSubcommand &&
            !leftover.empty()) {
            Say("unknown subcommand \"" + leftover.front() + "\"");
            Say("Run with --help for the subcommands.");
            return kExitUsage;
        }
        int code = app.exit(error);
        return code == 0 ? kExitOk : kExitUsage;
    }
    return run();
}

}  // namespace kestrel_tool

#include "kestrel/cli.h"

#include <CLI/CLI.hpp>

#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>

#include "kestrel/arguments.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/options.h"
#include "kestrel/session.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {
namespace {

// One line, as every error line of the tool.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += c == '\n' ? std::string("; ") : std::string(1, c);
    return TerminalText(line);
}

// What the command line opens for a subcommand: a session on the chain the
// options choose, checking the detector the runner names; or nothing, for
// a command that opens its own.
enum class Opens { kSession, kNothing };

struct Command {
    const char* name;  // "roi set": set, a subcommand of roi
    const char* help;
    Opens opens;
    Runner (*declare)(CLI::App* command);  // null: a group of subcommands, one of them required
};

const Command kCommands[] = {
    {"list", "list the units and their detectors (or one MCB, or one detector)", Opens::kSession,
     DeclareList},
    {"raw", "send one command to an MCB and show its answer", Opens::kSession, DeclareRaw},
    {"read", "read a spectrum; export it as CSV or N42 or plot it as PNG (no file: CSV on standard "
             "output)", Opens::kSession, DeclareRead},
    {"start", "start an input counting (and stamp its start time); with --clear a new run on a "
              "cleared spectrum, without it the real time carries on from the counts already there",
     Opens::kSession, DeclareStart},
    {"stop", "stop an input counting (and record when)", Opens::kSession, DeclareStop},
    {"clear", "clear an input's spectrum (a counting input starts a new run)", Opens::kSession,
     DeclareClear},
    {"wait", "wait until an input stops counting", Opens::kSession, DeclareWait},
    {"roi", "set or clear a region of interest", Opens::kSession, nullptr},
    {"roi set", "mark a run of channels as a region of interest", Opens::kSession, DeclareRoiSet},
    {"roi clear", "clear the ROI marks of a run of channels", Opens::kSession, DeclareRoiClear},
    {"lock", "lock a detector for an owner", Opens::kSession, DeclareLock},
    {"unlock", "release a detector's lock", Opens::kSession, DeclareUnlock},
    {"describe", "store a detector's description", Opens::kSession, DeclareDescribe},
    {"set-id", "store a detector's identifier", Opens::kSession, DeclareSetId},
    {"start-time", "stamp a detector's start time with the current time and show it",
     Opens::kSession, DeclareStartTime},
    {"demo", "the whole tour on a built-in simulated chain, no set-up needed: list, start an "
             "acquisition, read, export CSV and N42, plot PNG", Opens::kNothing, DeclareDemo},
};

// Adds every subcommand of the table to `app`; the one parsed is left in
// `chosen`, its runner in `runner`.
void DeclareCommands(CLI::App& app, const Command** chosen, Runner* runner) {
    for (const Command& each : kCommands) {
        std::string name = each.name;
        std::size_t space = name.find(' ');
        CLI::App* parent = &app;
        if (space != std::string::npos) {
            parent = app.get_subcommand(name.substr(0, space));
            name = name.substr(space + 1);
        }
        CLI::App* command = parent->add_subcommand(name, each.help);
        if (each.declare == nullptr) {
            command->require_subcommand(1);
            continue;
        }
        command->callback([chosen, runner, &each, declared = each.declare(command)] {
            *chosen = &each;
            *runner = declared;
        });
    }
}

// Opens what the command needs, and runs it.
int Run(const Command& command, const Runner& runner, const GlobalOptions& options) {
    if (runner.prepare) runner.prepare();
    if (command.opens == Opens::kNothing) return runner.run(options, nullptr);
    Session session(options, ChainFromOptions(options));
    if (std::optional<DetectorArgs> target = runner.target ? runner.target() : std::nullopt)
        session.RequireDetector(*target);
    return runner.run(options, &session);
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

    const Command* chosen = nullptr;
    Runner runner;
    DeclareCommands(app, &chosen, &runner);

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
        // Help and version go out through the watched standard output, so
        // that a full disk or a closed pipe is reported as for any output.
        std::ostringstream out, err;
        int code = app.exit(error, out, err);
        std::fputs(out.str().c_str(), stdout);
        std::fputs(err.str().c_str(), Messages());
        return code == 0 ? kExitOk : kExitUsage;
    }
    return Run(*chosen, runner, global);
}

}  // namespace kestrel_tool

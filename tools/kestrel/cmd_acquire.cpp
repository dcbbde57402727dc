// `start`, `stop`, `clear` and `wait`: an input's acquisition, for runs
// nobody watches, e.g.
//   kestrel start 9 2 --clear --seconds 600 && kestrel read 9 2 --n42 run.n42
// A command that finds nothing to do changes nothing and says so: times
// are what the unit and kestrel's record of its runs say.
#include <chrono>
#include <cstdio>
#include <thread>

#include "kestrel/acquisition.h"
#include "kestrel/arguments.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/reply_text.h"
#include "kestrel/session.h"
#include "kestrel/time_text.h"
#include "kestrel/watchdog.h"

namespace kestrel_tool {
namespace {

// How often `wait` asks the unit, and how often it says it is still waiting.
constexpr auto kPoll = std::chrono::milliseconds(250);
constexpr auto kRemindEvery = std::chrono::seconds(30);

void Report(const GlobalOptions& options, const std::string& text) {
    if (!options.quiet) std::printf("%s\n", text.c_str());
}

AcquisitionTimes Times(Addin& addin, const DetectorArgs& target, const char* toDo) {
    AcquisitionTimes times = ReadAcquisitionTimes(addin, target.mcb, target.det);
    if (!times.activeKnown)
        throw ToolError(kExitFailed, "MCB " + std::to_string(target.mcb) + " does not say whether detector " +
                                         std::to_string(target.det) + " is counting: cannot " + toDo);
    return times;
}

std::string Stopped(const AcquisitionTimes& times) {
    return "stopped; real time " + times.RealText() + ", live time " + times.LiveText();
}

void RequireSeconds(const AcquireArgs& args) {
    if (args.seconds != -1 && !(args.seconds >= 0 && args.seconds <= 31536000))  // NaN fails
        throw ToolError(kExitUsage, "--seconds must be between 0 and 31536000");
}

// Lets a counting input count `seconds` from now, then stops it.
void CountFor(const GlobalOptions& options, Addin& addin, const AcquireArgs& args) {
    ServiceWait waiting;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", args.seconds);
    Say("letting " + DetectorName(args.target) + " count for " + seconds +
        " s, then stopping it (Ctrl-C ends the wait and leaves it counting)");
    std::this_thread::sleep_for(std::chrono::duration<double>(args.seconds));
    AcquisitionTimes times = Times(addin, args.target, "stop it");
    if (!times.active) {
        Report(options, DetectorName(args.target) + ": stopped meanwhile, not by this run; real time " +
                            times.RealText());
        return;
    }
    Report(options, DetectorName(args.target) + ": " + Stopped(StopRun(addin, args.target.mcb, args.target.det, times)));
}

int RunStart(const GlobalOptions& options, Session& session, const AcquireArgs& args) {
    Addin& addin = session.addin();
    AcquisitionTimes before = Times(addin, args.target, "start it");
    if (before.active && !args.clear) {
        Report(options, DetectorName(args.target) + ": already counting since " + LocalTimeText(before.start) +
                            " (real time so far " + before.RealText() +
                            "); nothing changed ('start --clear' begins a new run)");
    } else {
        AcquisitionTimes after = StartRun(addin, args.target.mcb, args.target.det, args.clear, before);
        Report(options, DetectorName(args.target) + ": started" + (args.clear ? " on a cleared spectrum" : "") +
                            ", start time " + LocalTimeText(after.start) + "; real time so far " +
                            after.RealText());
    }
    if (args.seconds >= 0) CountFor(options, addin, args);
    return kExitOk;
}

int RunStop(const GlobalOptions& options, Session& session, const AcquireArgs& args) {
    AcquisitionTimes before = Times(session.addin(), args.target, "stop it");
    if (!before.active) {
        Report(options, DetectorName(args.target) + ": not counting; nothing changed (real time " +
                            before.RealText() + ")");
        return kExitOk;
    }
    Report(options, DetectorName(args.target) + ": " +
                        Stopped(StopRun(session.addin(), args.target.mcb, args.target.det, before)));
    return kExitOk;
}

int RunClear(const GlobalOptions& options, Session& session, const AcquireArgs& args) {
    Addin& addin = session.addin();
    AcquisitionTimes before = Times(addin, args.target, "clear it");
    if (before.active) {
        // Counts and times start again together: a new run.
        AcquisitionTimes after = StartRun(addin, args.target.mcb, args.target.det, true, before);
        Report(options, DetectorName(args.target) + ": spectrum cleared; it was counting, so a new run began at " +
                            LocalTimeText(after.start));
    } else {
        AcquisitionTimes after = ClearStopped(addin, args.target.mcb, args.target.det, before);
        Report(options, DetectorName(args.target) + ": spectrum cleared; real time " + after.RealText());
    }
    return kExitOk;
}

void PrepareWait(AcquireArgs& args) {
    RequireSeconds(args);
    args.target.changes = args.seconds >= 0;  // it stops the input then
}

int RunWait(const GlobalOptions& options, Session& session, const AcquireArgs& args) {
    Addin& addin = session.addin();
    AcquisitionTimes times = Times(addin, args.target, "wait for it to stop");
    if (!times.active) {
        Report(options, DetectorName(args.target) + ": not counting; nothing to wait for (real time " +
                            times.RealText() + ")");
        return kExitOk;
    }
    if (args.seconds >= 0) {
        CountFor(options, addin, args);
        return kExitOk;
    }
    ServiceWait waiting;
    for (auto lastSaid = std::chrono::steady_clock::now() - kRemindEvery;;) {
        if (std::chrono::steady_clock::now() - lastSaid >= kRemindEvery) {
            Say("waiting for " + DetectorName(args.target) + " to stop counting (real time so far " +
                times.RealText() + "; Ctrl-C ends the wait)");
            lastSaid = std::chrono::steady_clock::now();
        }
        std::this_thread::sleep_for(kPoll);
        times = Times(addin, args.target, "wait for it to stop");
        if (!times.active) break;
    }
    Report(options, DetectorName(args.target) + ": not counting; real time " + times.RealText());
    return kExitOk;
}

// The input a command works on; every one of them may change it (wait with
// --seconds only).
std::shared_ptr<AcquireArgs> AddInput(CLI::App* command) {
    auto args = std::make_shared<AcquireArgs>();
    AddTarget(command, &args->target, true);
    return args;
}

void AddSeconds(CLI::App* command, AcquireArgs* args) {
    command->add_option("--seconds", args->seconds,
                        "count this many seconds from now, then stop the input (if it counts)")
        ->check(CLI::Range(0.0, 31536000.0));
}

}  // namespace

Runner DeclareStart(CLI::App* command) {
    auto args = AddInput(command);
    command->add_flag("--clear", args->clear, "clear the spectrum first");
    AddSeconds(command, args.get());
    return OnTarget(args, RunStart, RequireSeconds);
}

Runner DeclareStop(CLI::App* command) { return OnTarget(AddInput(command), RunStop); }

Runner DeclareClear(CLI::App* command) { return OnTarget(AddInput(command), RunClear); }

Runner DeclareWait(CLI::App* command) {
    auto args = AddInput(command);
    AddSeconds(command, args.get());
    return OnTarget(args, RunWait, PrepareWait);
}

}  // namespace kestrel_tool

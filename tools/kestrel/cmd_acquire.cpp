// `start`, `stop`, `clear` and `wait`: an input's acquisition, for runs
// nobody watches, e.g.
//   kestrel start 9 2 --clear --seconds 600 && kestrel read 9 2 --n42 run.n42
#include <chrono>
#include <cstdio>
#include <thread>

#include "kestrel/acquisition.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/exit_codes.h"
#include "kestrel/reply_text.h"
#include "kestrel/session.h"
#include "kestrel/time_text.h"

namespace kestrel_tool {
namespace {

// How often `wait` asks the unit, and how often it says it is still waiting.
constexpr auto kPoll = std::chrono::milliseconds(250);
constexpr auto kRemindEvery = std::chrono::seconds(30);

std::string Name(const DetectorArgs& target) {
    return "MCB " + std::to_string(target.mcb) + " detector " + std::to_string(target.det);
}

void Report(const GlobalOptions& options, const std::string& text) {
    if (!options.quiet) std::printf("%s\n", text.c_str());
}

void Send(Addin& addin, const DetectorArgs& target, const std::string& command) {
    CommandResult result = addin.SendCommand(target.mcb, target.det, command);
    if (!result.completed)
        throw ToolError(kExitFailed, "\"" + command + "\" for " + Name(target) + " failed (" +
                                         LocalErrMeaning(result.localErr) + ")");
    if (result.localErr != 0)
        throw ToolError(kExitFailed, "MCB " + std::to_string(target.mcb) + " refused \"" +
                                         command + "\" (status " +
                                         std::to_string(result.localErr) + " " +
                                         std::to_string(result.status2) + ")");
}

// Stops the input and records when, on the clock of its start time: the
// unit keeps no stop time, and without one the real time is unknown.
void Stop(const GlobalOptions& options, Addin& addin, const DetectorArgs& target) {
    Send(addin, target, "STOP");
    std::uint32_t now = 0;
    addin.StartTime(target.mcb, target.det, &now);
    if (now == 0 || !addin.SetAppData(target.mcb, target.det, kStopStampName, std::to_string(now)))
        Say("could not record when " + Name(target) + " stopped: its real time stays unknown");
    AcquisitionTimes times = ReadAcquisitionTimes(addin, target.mcb, target.det);
    Report(options, Name(target) + ": stopped; real time " + times.RealText() + ", live time " +
                        kLiveTimeUnreported);
}

void RequireSeconds(const AcquireArgs& args) {
    if (args.seconds != -1 && !(args.seconds >= 0 && args.seconds <= 31536000))  // NaN fails
        throw ToolError(kExitUsage, "--seconds must be between 0 and 31536000");
}

void CountFor(const GlobalOptions& options, Addin& addin, const AcquireArgs& args) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", args.seconds);
    Say("letting " + Name(args.target) + " count for " + seconds +
        " s, then stopping it (Ctrl-C ends the wait and leaves it counting)");
    std::this_thread::sleep_for(std::chrono::duration<double>(args.seconds));
    Stop(options, addin, args.target);
}

}  // namespace

int RunStart(const GlobalOptions& options, const AcquireArgs& args) {
    RequireSeconds(args);
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(args.target);
    Addin& addin = session.addin();
    if (args.clear) Send(addin, args.target, "CLEAR");
    Send(addin, args.target, "START");
    addin.SetStartTime(args.target.mcb, args.target.det);
    addin.SetAppData(args.target.mcb, args.target.det, kStopStampName, "");
    AcquisitionTimes times = ReadAcquisitionTimes(addin, args.target.mcb, args.target.det);
    Report(options, Name(args.target) + ": started" + (args.clear ? " on a cleared spectrum" : "") +
                        ", start time " + LocalTimeText(times.start));
    if (args.seconds >= 0) CountFor(options, addin, args);
    return kExitOk;
}

int RunStop(const GlobalOptions& options, const AcquireArgs& args) {
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(args.target);
    Stop(options, session.addin(), args.target);
    return kExitOk;
}

int RunClear(const GlobalOptions& options, const AcquireArgs& args) {
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(args.target);
    Send(session.addin(), args.target, "CLEAR");
    Report(options, Name(args.target) + ": spectrum cleared");
    return kExitOk;
}

int RunWait(const GlobalOptions& options, const AcquireArgs& args) {
    RequireSeconds(args);
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(args.target);
    Addin& addin = session.addin();
    if (args.seconds >= 0) {
        CountFor(options, addin, args);
        return kExitOk;
    }
    auto lastSaid = std::chrono::steady_clock::now() - kRemindEvery;
    for (;;) {
        AcquisitionTimes times = ReadAcquisitionTimes(addin, args.target.mcb, args.target.det);
        if (!times.activeKnown)
            throw ToolError(kExitFailed, "MCB " + std::to_string(args.target.mcb) +
                                             " does not say whether detector " +
                                             std::to_string(args.target.det) +
                                             " is counting: cannot wait for it to stop");
        if (!times.active) {
            Report(options, Name(args.target) + ": not counting; real time " + times.RealText());
            return kExitOk;
        }
        if (std::chrono::steady_clock::now() - lastSaid >= kRemindEvery) {
            Say("waiting for " + Name(args.target) + " to stop counting (real time so far " +
                times.RealText() + "; Ctrl-C ends the wait)");
            lastSaid = std::chrono::steady_clock::now();
        }
        std::this_thread::sleep_for(kPoll);
    }
}

}  // namespace kestrel_tool

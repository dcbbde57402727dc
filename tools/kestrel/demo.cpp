// `demo`: the whole tour on a simulated chain, with no set-up: list the
// detectors, start an acquisition, let it count, read the spectrum and
// export it.
#include <chrono>
#include <cstdio>
#include <thread>

#include "kestrel/acquisition.h"
#include "kestrel/arguments.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/driver_path.h"
#include "kestrel/tool_error.h"
#include "kestrel/export_csv.h"
#include "kestrel/export_n42.h"
#include "kestrel/plot_png.h"
#include "kestrel/reply_text.h"
#include "kestrel/scratch_dir.h"
#include "kestrel/session.h"
#include "kestrel/spectrum.h"
#include "kestrel/survey.h"
#include "kestrel/time_text.h"
#include "sim/demo.h"

namespace kestrel_tool {
namespace {

// The demo chain's segment unit, second input: stopped, with 30 s of counts.
constexpr int kMcb = 9;
constexpr int kDet = 2;
// A run around the input's first peak, for the ROI step.
constexpr std::uint32_t kRoiStart = 1580;
constexpr std::uint32_t kRoiLength = 120;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point begin) {
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

void Step(const char* text) {
    std::printf("\n== %s\n", text);
    std::fflush(stdout);
}

std::uint64_t TotalCounts(Addin& addin, std::uint32_t channels) {
    return ReadSpectrum(addin, kMcb, kDet, 0, channels, 0, false).Total();
}

int RunDemo(const GlobalOptions& options, const DemoArgs& args) {
    Clock::time_point begin = Clock::now();
    if (!(args.seconds >= 0 && args.seconds <= 30))  // NaN fails both
        throw ToolError(kExitUsage, "--seconds must be between 0 and 30");
    MakeDirectories(args.out);
    std::string base = args.out + "/mcb" + std::to_string(kMcb) + "-det" + std::to_string(kDet);

    std::printf("Kestrel demo: a simulated MCB chain served in this process, reached through the\n"
                "add-in library exactly as a host program reaches real units.\n");
    Step("Starting the simulated chain and loading the add-in");
    Session session(options, sim::DemoChainConfig());
    Addin& addin = session.addin();
    std::printf("windows directory   %s\n", session.windir().c_str());
    std::printf("driver socket       %s\n", DriverSocketPath(session.windir()).c_str());
    std::printf("add-in              %s (opened)\n", LocateAddin(options.addinPath).c_str());

    Step("Units and detectors the add-in found");
    std::vector<UnitInfo> units = SurveyUnits(addin);
    if (units.empty()) {
        Say("the add-in found no units on the simulated chain (try --trace 1)");
        return kExitFailed;
    }
    PrintUnits(stdout, units);

    Step("Starting an acquisition on MCB 9 detector 2");
    // Without --clear: the counts it holds stay, and so does their real time.
    AcquisitionTimes stopped = ReadAcquisitionTimes(addin, kMcb, kDet);
    std::printf("before              %s, real time %s\n", stopped.active ? "counting" : "stopped",
                stopped.RealText().c_str());
    AcquisitionTimes started = StartRun(addin, kMcb, kDet, false, stopped);
    std::printf("start time          %s\n", LocalTimeText(started.start).c_str());
    std::printf("acquiring           %s\n", started.active ? "yes" : "no");
    std::printf("real time so far    %s\n", started.RealText().c_str());
    addin.SetAppData(kMcb, kDet, "@DESC", "Demo input (started by kestrel demo)");
    RoiResult roi = addin.SetRoi(kMcb, kDet, kRoiStart, kRoiLength, 0);
    std::printf("ROI                 channels %u to %u: result %d%s\n", kRoiStart,
                kRoiStart + kRoiLength - 1, roi.code,
                roi.code == ROI_DONE ? "" : (" (" + ResultReason(roi.code) + ")").c_str());

    Step("Letting it count");
    std::uint32_t channels = addin.DetectorChannels(kMcb, kDet);
    std::uint64_t before = TotalCounts(addin, channels);
    std::printf("counts now          %llu\n", static_cast<unsigned long long>(before));
    std::printf("waiting %.1f s ...\n", args.seconds);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::duration<double>(args.seconds));

    Step("Reading the spectrum");
    bool progress = options.progress || MessagesAreTerminal();
    Spectrum spectrum = ReadSpectrum(addin, kMcb, kDet, 0, channels, 0, progress);
    std::uint64_t after = spectrum.Total();
    std::printf("read %u channels in chunks of %u: %llu counts (%+lld since the wait began)\n",
                channels, kReadChunk, static_cast<unsigned long long>(after),
                static_cast<long long>(after) - static_cast<long long>(before));
    if (args.seconds > 0 && after <= before) {
        Say("the counts did not grow while the acquisition ran");
        return kExitFailed;
    }

    Step("Exporting");
    RequireN42Times(spectrum);  // all three files or none
    WriteCsv(spectrum, base + ".csv");
    std::printf("CSV                 %s.csv\n", base.c_str());
    WriteN42(spectrum, base + ".n42");
    std::printf("ANSI N42.42         %s.n42\n", base.c_str());
    PlotPng(spectrum, base + ".png");
    std::printf("plot                %s.png\n", base.c_str());

    Step("Done");
    std::printf("closing the add-in; the demo took %.1f s. The files are in %s\n",
                SecondsSince(begin), args.out.c_str());
    return kExitOk;
}

}  // namespace

// The demo opens its own session, on the built-in chain, once it has said
// what it does.
Runner DeclareDemo(CLI::App* command) {
    auto args = std::make_shared<DemoArgs>();
    command->add_option("--out", args->out, "directory for the files (default ./kestrel-demo-out)")
        ->type_name("DIR");
    command->add_option("--seconds", args->seconds, "how long to let the counts grow (default 1.5)");
    Runner runner;
    runner.run = [args](const GlobalOptions& options, Session*) { return RunDemo(options, *args); };
    return runner;
}

}  // namespace kestrel_tool

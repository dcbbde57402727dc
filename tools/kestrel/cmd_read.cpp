// `read`: a run of channels, exported as CSV or N42 or plotted as PNG.
#include <cstdio>
#include <tuple>

#include "kestrel/arguments.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/export_csv.h"
#include "kestrel/export_json.h"
#include "kestrel/export_n42.h"
#include "kestrel/output_file.h"
#include "kestrel/plot_png.h"
#include "kestrel/reply_text.h"
#include "kestrel/session.h"
#include "kestrel/spectrum.h"
#include "kestrel/views.h"

namespace kestrel_tool {
namespace {

// The run the arguments ask for, checked against the detector's channels.
void ChooseRun(const ReadArgs& args, std::uint32_t channels, std::uint32_t* start,
               std::uint32_t* count) {
    std::string detector = DetectorName(args.target);
    if (channels == 0) throw ToolError(kExitFailed, detector + " reports no channels");
    if (args.start < 0 || args.start >= channels)
        throw ToolError(kExitUsage, "--start " + std::to_string(args.start) + " is outside the " +
                                        std::to_string(channels) + " channels of " + detector +
                                        " (0 to " + std::to_string(channels - 1) + ")");
    long long available = static_cast<long long>(channels) - args.start;
    long long wanted = args.count < 0 ? available : args.count;
    if (wanted > available)
        throw ToolError(kExitUsage, "--count " + std::to_string(wanted) + " from channel " +
                                        std::to_string(args.start) + " runs past the " +
                                        std::to_string(channels) + " channels of " + detector);
    *start = static_cast<std::uint32_t>(args.start);
    *count = static_cast<std::uint32_t>(wanted);
}

// --real-time: for an input whose real time kestrel does not know.
void GiveRealTime(const ReadArgs& args, Spectrum* spectrum) {
    if (args.realTime < 0) return;
    AcquisitionTimes& times = spectrum->times;
    if (times.realKnown && times.realSeconds != 0)
        throw ToolError(kExitUsage, "the real time of " + spectrum->Name() + " is known (" +
                                        times.RealText() + "): --real-time is for a real time kestrel "
                                        "does not know");
    times.realKnown = times.realGiven = true;
    times.neverStarted = false;
    times.earlier = 0;
    times.realSeconds = static_cast<std::uint32_t>(args.realTime);
}

void RequireOutputs(const ReadArgs& args) {
    if (args.json && (args.csv == "-" || args.n42 == "-"))
        throw ToolError(kExitUsage, "--json and an export to '-' both want standard output: give one");
    // Before anything is read, so a mistyped path costs nothing.
    for (auto [option, path, toStdout] : {std::tuple{"--csv", &args.csv, true}, {"--n42", &args.n42, true},
                                          {"--png", &args.png, false}})
        if (!path->empty()) RequireExportPath(option, *path, toStdout);
    RequireDistinctOutputs({args.csv, args.n42, args.png});
}

int RunRead(const GlobalOptions& options, Session& session, const ReadArgs& args) {
    Addin& addin = session.addin();
    std::uint32_t start = 0, count = 0;
    ChooseRun(args, addin.DetectorChannels(args.target.mcb, args.target.det), &start, &count);
    RequireViewFeature(addin, args.target.mcb, args.target.det, args.view);

    bool progress = !options.quiet && (options.progress || MessagesAreTerminal());
    Spectrum spectrum =
        ReadSpectrum(addin, args.target.mcb, args.target.det, start, count, args.view, progress);
    GiveRealTime(args, &spectrum);
    // All exports or none: an N42 file that cannot be written stops the
    // others before they are.
    if (!args.n42.empty()) RequireN42Times(spectrum);

    bool anyFile = !args.csv.empty() || !args.n42.empty() || !args.png.empty();
    if (args.json) PrintSpectrumJson(stdout, spectrum);
    if (!anyFile) {
        if (!args.json) WriteCsv(spectrum, "-");
        return kExitOk;
    }
    // With an export on standard output, the reports go with the messages
    // so that the output stays clean.
    bool exportToStdout = args.csv == "-" || args.n42 == "-" || args.json;
    std::FILE* report = exportToStdout ? Messages() : stdout;
    auto reportLine = [&](const std::string& text) {
        if (!options.quiet) std::fprintf(report, "%s\n", text.c_str());
    };
    reportLine("read " + std::to_string(count) + " channels of " + spectrum.Name() +
               " from channel " + std::to_string(start) + ": " + std::to_string(spectrum.Total()) +
               " counts; real time " + spectrum.times.RealText() + ", live time " +
               spectrum.times.LiveText());
    if (!args.csv.empty()) {
        WriteCsv(spectrum, args.csv);
        if (args.csv != "-") reportLine("wrote " + args.csv);
    }
    if (!args.n42.empty()) {
        WriteN42(spectrum, args.n42);
        if (args.n42 != "-") reportLine("wrote " + args.n42);
    }
    if (!args.png.empty()) {
        PlotPng(spectrum, args.png, args.logScale);
        reportLine("wrote " + args.png);
    }
    return kExitOk;
}

}  // namespace

Runner DeclareRead(CLI::App* command) {
    auto args = std::make_shared<ReadArgs>();
    AddTarget(command, &args->target, false);
    command->add_option("--start", args->start, "first channel (default 0)")
        ->check(Within(0, 4294967295LL, "start channel"));
    command->add_option("--count", args->count, "number of channels (default: to the end)")
        ->check(Within(1, 4294967295LL, "channel count"));
    AddView(command, &args->view);
    command->add_option("--csv", args->csv, "write CSV (channel,counts) to this file ('-': standard output)")
        ->type_name("FILE");
    command->add_option("--n42", args->n42, "write an ANSI N42.42 XML document to this file ('-': "
                                            "standard output)")
        ->type_name("FILE");
    command->add_option("--png", args->png, "plot the spectrum into this PNG file (a file: not "
                                            "standard output)")
        ->type_name("FILE");
    command->add_option("--real-time", args->realTime,
                        "the real time of an input whose real time kestrel does not know (one "
                        "stopped at a time nobody recorded), for the exports; the N42 file says it "
                        "was given")
        ->type_name("SECONDS")
        ->check(Within(0, 4294967295LL, "real time"));
    command->add_flag("--json", args->json, "write the spectrum and its times as JSON on standard output");
    command->add_flag("--log", args->logScale, "plot the counts on a log scale");
    return OnTarget(args, RunRead, RequireOutputs);
}

}  // namespace kestrel_tool

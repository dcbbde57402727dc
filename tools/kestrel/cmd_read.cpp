// `read`: a run of channels, exported as CSV or N42 or plotted as PNG.
#include <cstdio>

#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/export_csv.h"
#include "kestrel/export_json.h"
#include "kestrel/export_n42.h"
#include "kestrel/exit_codes.h"
#include "kestrel/output_file.h"
#include "kestrel/plot_png.h"
#include "kestrel/scratch_dir.h"
#include "kestrel/session.h"
#include "kestrel/spectrum.h"
#include "kestrel/views.h"

namespace kestrel_tool {
namespace {

// The run the arguments ask for, checked against the detector's channels.
void ChooseRun(const ReadArgs& args, std::uint32_t channels, std::uint32_t* start,
               std::uint32_t* count) {
    std::string detector = "MCB " + std::to_string(args.target.mcb) + " detector " +
                           std::to_string(args.target.det);
    if (channels == 0) throw ToolError(kExitFailed, detector + " reports no channels");
    if (args.start < 0 || args.start >= channels)
        throw ToolError(kExitUsage, "--start " + std::to_string(args.start) + " is outside the " +
                                        std::to_string(channels) + " channels of " + detector +
                                        " (0 to " + std::to_string(channels - 1) + ")");
    long long available = static_cast<long long>(channels) - args.start;
    long long wanted = args.count < 0 ? available : args.count;
    if (wanted == 0) throw ToolError(kExitUsage, "--count must be at least 1");
    if (wanted > available)
        throw ToolError(kExitUsage, "--count " + std::to_string(wanted) + " from channel " +
                                        std::to_string(args.start) + " runs past the " +
                                        std::to_string(channels) + " channels of " + detector);
    *start = static_cast<std::uint32_t>(args.start);
    *count = static_cast<std::uint32_t>(wanted);
}

}  // namespace

int RunRead(const GlobalOptions& options, const ReadArgs& args) {
    if (args.json && (args.csv == "-" || args.n42 == "-"))
        throw ToolError(kExitUsage, "--json and an export to '-' both want standard output: give one");
    // Before anything is read, so a mistyped path costs nothing.
    for (const std::string* path : {&args.csv, &args.n42, &args.png})
        if (!path->empty()) RequireWritableFile(*path);
    RequireDistinctOutputs({args.csv, args.n42, args.png});
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(args.target);
    Addin& addin = session.addin();
    std::uint32_t start = 0, count = 0;
    ChooseRun(args, addin.DetectorChannels(args.target.mcb, args.target.det), &start, &count);
    RequireViewFeature(addin, args.target.mcb, args.target.det, args.view);

    bool progress = !options.quiet && (options.progress || MessagesAreTerminal());
    Spectrum spectrum =
        ReadSpectrum(addin, args.target.mcb, args.target.det, start, count, args.view, progress);

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
               kLiveTimeUnreported);
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

}  // namespace kestrel_tool

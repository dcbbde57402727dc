// `roi set` and `roi clear`: mark or unmark a run of channels.
#include <cstdio>

#include "kestrel/arguments.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/reply_text.h"
#include "kestrel/session.h"
#include "kestrel/spectrum.h"
#include "kestrel/views.h"

namespace kestrel_tool {
namespace {

int RunRoi(const GlobalOptions&, Session& session, const RoiArgs& args) {
    Addin& addin = session.addin();
    std::uint32_t channels = addin.DetectorChannels(args.target.mcb, args.target.det);
    if (args.start >= channels || args.start + args.length > channels)
        throw ToolError(kExitUsage, "channels " + std::to_string(args.start) + " to " +
                                        std::to_string(args.start + args.length - 1) +
                                        " are outside the " + std::to_string(channels) +
                                        " channels of " + DetectorName(args.target));
    RequireViewFeature(addin, args.target.mcb, args.target.det, args.view);
    std::uint32_t start = static_cast<std::uint32_t>(args.start);
    std::uint32_t length = static_cast<std::uint32_t>(args.length);
    RoiResult result = args.clear
                           ? addin.ClearRoi(args.target.mcb, args.target.det, start, length, args.view)
                           : addin.SetRoi(args.target.mcb, args.target.det, start, length, args.view);
    std::printf("roi %s channels %u to %u: result %d, status %d %d\n", args.clear ? "clear" : "set",
                start, start + length - 1, result.code, result.localErr,
                result.status2);
    if (result.code != ROI_DONE) {
        Say(std::string(args.clear ? "clearing" : "setting") + " the ROI failed: " +
            ResultReason(result.code) + (result.code == ROI_INVALID ? ViewFailure(args.view) : ""));
        return kExitFailed;
    }
    // Done means the unit's memory shows it: read the run back.
    Spectrum after = ReadSpectrum(addin, args.target.mcb, args.target.det, start, length, args.view, false);
    if (after.RoiBit() == 0) {
        std::printf("(the channel words of this detector carry no ROI marks: kestrel cannot read "
                    "them back)\n");
        return kExitOk;
    }
    std::uint32_t wrong = 0;
    for (std::size_t i = 0; i < after.words.size(); ++i) wrong += after.InRoi(i) == args.clear;
    if (wrong != 0) {
        Say("MCB " + std::to_string(args.target.mcb) + " reported success, but " + std::to_string(wrong) +
            " of the channels " + std::to_string(start) + " to " + std::to_string(start + length - 1) +
            (args.clear ? " still show an ROI mark" : " show no ROI mark"));
        return kExitFailed;
    }
    return kExitOk;
}

Runner DeclareRoi(CLI::App* command, bool clear) {
    auto args = std::make_shared<RoiArgs>();
    args->clear = clear;
    AddTarget(command, &args->target, true);
    command->add_option("START", args->start, "first channel")
        ->required()
        ->check(Within(0, 4294967295LL, "start channel"));
    command->add_option("LENGTH", args->length, "number of channels")
        ->required()
        ->check(Within(1, 4294967295LL, "length"));
    AddView(command, &args->view);
    return OnTarget(args, RunRoi);
}

}  // namespace

Runner DeclareRoiSet(CLI::App* command) { return DeclareRoi(command, false); }

Runner DeclareRoiClear(CLI::App* command) { return DeclareRoi(command, true); }

}  // namespace kestrel_tool

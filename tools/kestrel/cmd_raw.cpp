// `raw`: one command to an MCB, as the host's raw command channel sends it.
#include <cstdio>

#include "kestrel/arguments.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/reply_text.h"
#include "kestrel/session.h"

namespace kestrel_tool {
namespace {

void RequireCommand(const RawArgs& args) {
    if (args.command.empty()) throw ToolError(kExitUsage, "the command is empty");
}

int RunRaw(const GlobalOptions&, Session& session, const RawArgs& args) {
    CommandResult result = session.addin().SendCommand(args.target.mcb, args.target.det,
                                                       args.command);
    std::printf("response: %s\n", Printable(result.response).c_str());
    std::printf("status: %d %d\n", result.localErr, result.status2);
    if (!result.completed) {
        Say("the exchange with MCB " + std::to_string(args.target.mcb) + " failed (" +
            ResultWord(result.localErr) + ")");
        return kExitFailed;
    }
    if (result.localErr != kLocalErrAccepted) {
        Say("MCB " + std::to_string(args.target.mcb) + " refused \"" + args.command +
            "\" (status " + std::to_string(result.localErr) + " " +
            std::to_string(result.status2) + ")");
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

Runner DeclareRaw(CLI::App* command) {
    auto args = std::make_shared<RawArgs>();
    AddTarget(command, &args->target, true);  // a raw command may change anything
    command->add_option("COMMAND", args->command, "the command text, e.g. \"SHOW_VERS\"")->required();
    return OnTarget(args, RunRaw, RequireCommand);
}

}  // namespace kestrel_tool

// `list`: every unit and detector the add-in found; `trace`: the add-in's
// start-up at a chosen trace level.
#include <cstdio>

#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/exit_codes.h"
#include "kestrel/export_json.h"
#include "kestrel/session.h"
#include "kestrel/survey.h"

namespace kestrel_tool {

int RunList(const GlobalOptions& options, const ListArgs& args) {
    Session session(options, ChainFromOptions(options));
    if (args.mcb != 0) {
        // One MCB, or one detector: the same checks as every detector command.
        DetectorArgs target{args.mcb, args.det != 0 ? args.det : 1};
        session.RequireDetector(target);
    }
    std::vector<UnitInfo> units = SurveyUnits(session.addin(), args.mcb, args.det);
    if (units.empty()) {
        Say("no MCB answered on the chain (with --trace 1 the add-in says what it tried)");
        return kExitFailed;
    }
    if (args.json)
        PrintUnitsJson(stdout, units);
    else
        PrintUnits(stdout, units);
    return kExitOk;
}

int RunTrace(const GlobalOptions& options, const TraceArgs& args) {
    GlobalOptions traced = options;
    traced.trace = args.level;
    Session session(traced, ChainFromOptions(traced));
    std::printf("trace level %d (was %d): the add-in's start-up trace is on standard error\n",
                args.level, session.previousTraceLevel());
    return kExitOk;
}

}  // namespace kestrel_tool

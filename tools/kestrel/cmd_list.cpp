// `list`: every unit and detector the add-in found.
#include <cstdio>
#include <string>
#include <vector>

#include "kestrel/arguments.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/export_json.h"
#include "kestrel/reply_text.h"
#include "kestrel/session.h"
#include "kestrel/survey.h"

namespace kestrel_tool {
namespace {

// What the survey could not learn of a detector: the list still shows it,
// and the run fails so that a script notices.
std::vector<std::string> FailedReads(const UnitInfo& unit, const DetectorInfo& info) {
    std::vector<std::string> failed;
    if (unit.version.empty()) failed.push_back("version");
    if (info.features.empty()) failed.push_back("features");
    if (!info.masksKnown) failed.push_back("masks");
    if (!info.times.activeKnown) failed.push_back("activity");
    return failed;
}

int RunList(Session& session, const ListArgs& args) {
    std::vector<UnitInfo> units = SurveyUnits(session.addin(), args.mcb, args.det);
    if (units.empty()) {
        Say("no MCB answered on the chain (with --trace 1 the add-in says what it tried)");
        return kExitFailed;
    }
    if (args.json)
        PrintUnitsJson(stdout, units);
    else
        PrintUnits(stdout, units);
    int failures = 0;
    for (const UnitInfo& unit : units)
        for (const DetectorInfo& info : unit.inputs) {
            std::vector<std::string> failed = FailedReads(unit, info);
            if (failed.empty()) continue;
            std::string what;
            for (const std::string& item : failed) what += (what.empty() ? "" : ", ") + item;
            Say(DetectorName(unit.mcb, info.det) +
                ": reading its " + what + " failed");
            ++failures;
        }
    return failures == 0 ? kExitOk : kExitFailed;
}

}  // namespace

Runner DeclareList(CLI::App* command) {
    auto args = std::make_shared<ListArgs>();
    command->add_option("MCB", args->mcb, "only this MCB, 9 to 16")
        ->check(McbNumber());
    command->add_option("DET", args->det, "only this detector of it")
        ->check(DetectorNumber());
    command->add_flag("--json", args->json, "JSON instead of text");
    Runner runner;
    runner.target = [args]() -> std::optional<DetectorArgs> {
        if (args->mcb == 0) return std::nullopt;
        // One MCB, or one detector: the same checks as every detector command.
        DetectorArgs target;
        target.mcb = args->mcb;
        target.det = args->det != 0 ? args->det : 1;
        return target;
    };
    runner.run = [args](const GlobalOptions&, Session* session) { return RunList(*session, *args); };
    return runner;
}

}  // namespace kestrel_tool

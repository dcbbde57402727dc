// `list`: every unit and detector the add-in found.
#include <cstdio>
#include <string>
#include <vector>

#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/exit_codes.h"
#include "kestrel/export_json.h"
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

}  // namespace

int RunList(const GlobalOptions& options, const ListArgs& args) {
    Session session(options, ChainFromOptions(options));
    if (args.mcb != 0) {
        // One MCB, or one detector: the same checks as every detector command.
        DetectorArgs target;
        target.mcb = args.mcb;
        target.det = args.det != 0 ? args.det : 1;
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
    int failures = 0;
    for (const UnitInfo& unit : units)
        for (const DetectorInfo& info : unit.inputs) {
            std::vector<std::string> failed = FailedReads(unit, info);
            if (failed.empty()) continue;
            std::string what;
            for (const std::string& item : failed) what += (what.empty() ? "" : ", ") + item;
            Say("MCB " + std::to_string(unit.mcb) + " detector " + std::to_string(info.det) +
                ": reading its " + what + " failed");
            ++failures;
        }
    return failures == 0 ? kExitOk : kExitFailed;
}

}  // namespace kestrel_tool

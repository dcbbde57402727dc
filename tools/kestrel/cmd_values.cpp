// The named per-detector values: lock, description, identifier, start time.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "addin/shared_state.h"
#include "kestrel/arguments.h"
#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/detector_lock.h"
#include "kestrel/tool_error.h"
#include "kestrel/reply_text.h"
#include "kestrel/session.h"
#include "kestrel/time_text.h"
#include "kestrel/unit_access.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {
namespace {

// The longest owner that "NUMBER OWNER" still fits in the add-in's
// 128-byte lock text, whatever the number.
constexpr std::size_t kOwnerBytes = 116;
// The longest description: the longest value an MCB gives back, in bytes,
// and in characters wherever else it is kept.
constexpr std::size_t kDescriptionLimit = 128;

int StoreLock(Session& session, const DetectorArgs& target, std::uint32_t number) {
    Addin& addin = session.addin();
    const std::string& owner = number != 0 ? target.owner : std::string();
    addin.SetLock(target.mcb, target.det, number, owner);
    std::string storedOwner;
    std::uint32_t lock = addin.Lock(target.mcb, target.det, &storedOwner);
    if (lock != number) {
        Say("the add-in did not take the lock: " + DetectorName(target) + " has lock " + std::to_string(lock));
        return kExitFailed;
    }
    std::string why = BecauseNotStored(session.windir());
    if (number != 0 && storedOwner != OwnerAsStored(owner) && !why.empty()) {
        Say("the add-in could not store the lock of " + DetectorName(target) + why);
        return kExitFailed;
    }
    if (number == 0)
        std::printf("%s unlocked\n", DetectorName(target).c_str());
    else
        std::printf("%s locked: %u owner \"%s\"\n", DetectorName(target).c_str(), lock,
                    TerminalText(storedOwner).c_str());
    return kExitOk;
}

// Stores `value` as the named value `name` ("@DESC"); false, when the
// add-in could not, with the reason said.
bool Store(Session& session, const DetectorArgs& target, const std::string& what, const char* name,
           const std::string& value) {
    if (session.addin().SetAppData(target.mcb, target.det, name, value)) return true;
    Say("the add-in could not store the " + what + " of " + DetectorName(target) +
        BecauseNotStored(session.windir()));
    return false;
}

// Shows the value read back after Store; fails unless it is the one stored.
int ShowReadBack(const DetectorArgs& target, const std::string& what, const std::string& shown,
                 bool same, bool isDefault) {
    std::printf("%s: %s %s%s\n", DetectorName(target).c_str(), what.c_str(), shown.c_str(),
                isDefault ? " (default)" : "");
    if (same && !isDefault) return kExitOk;
    Say("the " + what + " read back differs from the one stored");
    return kExitFailed;
}

void RequireOwner(const LockArgs& args) {
    RequireStorableText("the owner", args.target.owner, kOwnerBytes, kOwnerBytes);
}

// Lock, or unlock: lock number 0.
int RunLock(const GlobalOptions&, Session& session, const LockArgs& args) {
    return StoreLock(session, args.target, static_cast<std::uint32_t>(args.number));
}

void RequireDescription(const DescribeArgs& args) {
    RequireStorableText("the description", args.text, kDescriptionLimit, 4 * kDescriptionLimit);
}

int RunDescribe(const GlobalOptions&, Session& session, const DescribeArgs& args) {
    Addin& addin = session.addin();
    std::vector<std::uint32_t> features = addin.Features(args.target.mcb, args.target.det);
    if (!features.empty() && (features[0] & FEAT0_MCB_APPDATA) && args.text.size() > kDescriptionLimit)
        throw ToolError(kExitUsage, "MCB " + std::to_string(args.target.mcb) +
                                        " keeps its values itself, at most " +
                                        std::to_string(kDescriptionLimit) + " bytes each: this description takes " +
                                        std::to_string(args.text.size()) + " bytes of UTF-8");
    if (!Store(session, args.target, "description", "@DESC", args.text)) return kExitFailed;
    std::string text;
    bool isDefault = true;
    addin.Description(args.target.mcb, args.target.det, &text, &isDefault);
    return ShowReadBack(args.target, "description", "\"" + TerminalText(text) + "\"", text == args.text,
                        isDefault);
}

int RunSetId(const GlobalOptions&, Session& session, const SetIdArgs& args) {
    if (!Store(session, args.target, "identifier", "@ID", std::to_string(args.id))) return kExitFailed;
    std::uint32_t id = 0;
    bool isDefault = true;
    session.addin().DetectorId(args.target.mcb, args.target.det, &id, &isDefault);
    return ShowReadBack(args.target, "identifier", std::to_string(id), id == args.id, isDefault);
}

void PrepareStartTime(StartTimeArgs& args) { args.target.changes = !args.showOnly; }

int RunStartTime(const GlobalOptions&, Session& session, const StartTimeArgs& args) {
    Addin& addin = session.addin();
    std::time_t stamped = std::time(nullptr);
    if (!args.showOnly) addin.SetStartTime(args.target.mcb, args.target.det);
    std::uint32_t now = 0;
    std::uint32_t start = addin.StartTime(args.target.mcb, args.target.det, &now);
    std::printf("%s: start time %s (%u), now %s (%u)\n", DetectorName(args.target).c_str(),
                LocalTimeText(start).c_str(), start, LocalTimeText(now).c_str(), now);
    std::vector<std::uint32_t> features = addin.Features(args.target.mcb, args.target.det);
    // The stamp is shown only where the unit has no valid start of its own.
    bool unitsOwn = !features.empty() && (features[0] & FEAT0_MCB_CLOCK) &&
                    std::llabs(static_cast<long long>(start) - stamped) > 1;
    if (!args.showOnly && unitsOwn)
        std::printf("(stamped, but this unit keeps its own start time, and the add-in reports that "
                    "one)\n");
    return kExitOk;
}

}  // namespace

Runner DeclareLock(CLI::App* command) {
    auto args = std::make_shared<LockArgs>();
    AddTarget(command, &args->target, true, false);
    command->add_option("NUMBER", args->number, "lock number, 1 to 4294967295")
        ->required()
        ->check(Within(1, 4294967295LL, "lock number"));
    command->add_option("OWNER", args->target.owner, "who holds the lock")->required();
    return OnTarget(args, RunLock, RequireOwner);
}

Runner DeclareUnlock(CLI::App* command) {
    auto args = std::make_shared<LockArgs>();
    AddTarget(command, &args->target, true);
    return OnTarget(args, RunLock);
}

Runner DeclareDescribe(CLI::App* command) {
    auto args = std::make_shared<DescribeArgs>();
    AddTarget(command, &args->target, true);
    command->add_option("TEXT", args->text, "the description")->required();
    return OnTarget(args, RunDescribe, RequireDescription);
}

Runner DeclareSetId(CLI::App* command) {
    auto args = std::make_shared<SetIdArgs>();
    AddTarget(command, &args->target, true);
    command->add_option("NUMBER", args->id, "the identifier, 0 to 4294967295")
        ->required()
        ->check(Within(0, 4294967295LL, "identifier"));
    return OnTarget(args, RunSetId);
}

Runner DeclareStartTime(CLI::App* command) {
    auto args = std::make_shared<StartTimeArgs>();
    AddTarget(command, &args->target, true);  // unless --show
    command->add_flag("--show", args->showOnly, "only show it, stamp nothing");
    return OnTarget(args, RunStartTime, PrepareStartTime);
}

}  // namespace kestrel_tool

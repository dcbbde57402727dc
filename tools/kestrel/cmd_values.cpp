// The named per-detector values: lock, description, identifier, start time.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "kestrel/commands.h"
#include "kestrel/console.h"
#include "kestrel/exit_codes.h"
#include "kestrel/reply_text.h"
#include "kestrel/session.h"
#include "kestrel/time_text.h"
#include "kestrel/unit_access.h"

namespace kestrel_tool {
namespace {

// The longest owner that "NUMBER OWNER" still fits in the add-in's
// 128-character lock text, whatever the number.
constexpr std::size_t kOwnerLimit = 116;
// The longest value an MCB gives back.
constexpr std::size_t kDescriptionLimit = 128;
// Feature word 0: the unit reports the start date and time itself.
constexpr std::uint32_t kUnitKeepsStartStamp = 0x00010000;

std::string Name(const DetectorArgs& target) {
    return "MCB " + std::to_string(target.mcb) + " detector " + std::to_string(target.det);
}

int StoreLock(const GlobalOptions& options, const DetectorArgs& target, std::uint32_t number,
              const std::string& owner, bool force) {
    RequireStorableText("the owner", owner, kOwnerLimit);
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(target);
    Addin& addin = session.addin();
    // The add-in hands a lock to whoever asks; taking one from another
    // owner is for the user to decide.
    std::string holder;
    std::uint32_t held = addin.Lock(target.mcb, target.det, &holder);
    if (number != 0 && held != 0 && holder != owner && !force) {
        Say(Name(target) + " is locked by \"" + holder + "\" (lock " + std::to_string(held) +
            "); 'lock --force' takes it over");
        return kExitFailed;
    }
    addin.SetLock(target.mcb, target.det, number, owner);
    std::string storedOwner;
    std::uint32_t lock = addin.Lock(target.mcb, target.det, &storedOwner);
    if (lock != number) {
        Say("the add-in did not take the lock: " + Name(target) + " has lock " +
            std::to_string(lock));
        return kExitFailed;
    }
    std::string why = BecauseNotStored(session.windir());
    if (storedOwner != owner && !why.empty()) {
        Say("the add-in could not store the lock of " + Name(target) + why);
        return kExitFailed;
    }
    if (number == 0)
        std::printf("%s unlocked\n", Name(target).c_str());
    else
        std::printf("%s locked: %u owner \"%s\"\n", Name(target).c_str(), lock, storedOwner.c_str());
    return kExitOk;
}

}  // namespace

int RunLock(const GlobalOptions& options, const LockArgs& args) {
    return StoreLock(options, args.target, static_cast<std::uint32_t>(args.number), args.owner,
                     args.force);
}

int RunUnlock(const GlobalOptions& options, const DetectorArgs& args) {
    return StoreLock(options, args, 0, "", true);
}

int RunDescribe(const GlobalOptions& options, const DescribeArgs& args) {
    RequireStorableText("the description", args.text, kDescriptionLimit);
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(args.target);
    Addin& addin = session.addin();
    if (!addin.SetAppData(args.target.mcb, args.target.det, "@DESC", args.text)) {
        Say("the add-in could not store the description of " + Name(args.target) +
            BecauseNotStored(session.windir()));
        return kExitFailed;
    }
    std::string text;
    bool isDefault = true;
    addin.Description(args.target.mcb, args.target.det, &text, &isDefault);
    std::printf("%s: description \"%s\"%s\n", Name(args.target).c_str(), text.c_str(),
                isDefault ? " (default)" : "");
    return kExitOk;
}

int RunSetId(const GlobalOptions& options, const SetIdArgs& args) {
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(args.target);
    Addin& addin = session.addin();
    if (!addin.SetAppData(args.target.mcb, args.target.det, "@ID", std::to_string(args.id))) {
        Say("the add-in could not store the identifier of " + Name(args.target) +
            BecauseNotStored(session.windir()));
        return kExitFailed;
    }
    std::uint32_t id = 0;
    bool isDefault = true;
    addin.DetectorId(args.target.mcb, args.target.det, &id, &isDefault);
    std::printf("%s: identifier %u%s\n", Name(args.target).c_str(), id,
                isDefault ? " (default)" : "");
    if (id != args.id || isDefault) {
        Say("the identifier read back differs from the one stored");
        return kExitFailed;
    }
    return kExitOk;
}

int RunStartTime(const GlobalOptions& options, const StartTimeArgs& args) {
    Session session(options, ChainFromOptions(options));
    session.RequireDetector(args.target);
    Addin& addin = session.addin();
    std::time_t stamped = std::time(nullptr);
    if (!args.showOnly) addin.SetStartTime(args.target.mcb, args.target.det);
    std::uint32_t now = 0;
    std::uint32_t start = addin.StartTime(args.target.mcb, args.target.det, &now);
    std::printf("%s: start time %s (%u), now %s (%u)\n", Name(args.target).c_str(),
                LocalTimeText(start).c_str(), start, LocalTimeText(now).c_str(), now);
    std::vector<std::uint32_t> features = addin.Features(args.target.mcb, args.target.det);
    // The stamp is shown only where the unit has no valid start of its own.
    bool unitsOwn = !features.empty() && (features[0] & kUnitKeepsStartStamp) &&
                    std::llabs(static_cast<long long>(start) - stamped) > 1;
    if (!args.showOnly && unitsOwn)
        std::printf("(stamped, but this unit keeps its own start time, and the add-in reports that "
                    "one)\n");
    return kExitOk;
}

}  // namespace kestrel_tool

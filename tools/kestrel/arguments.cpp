#include "kestrel/arguments.h"

#include <cerrno>
#include <cstdlib>

#include "addin/shared_state.h"

namespace kestrel_tool {

CLI::Validator Within(long long low, long long high, const std::string& what, bool unknownWord) {
    std::string range = std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            long long value = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || end == text.c_str() || *end != '\0' || errno == ERANGE)
                return what + " must be a whole number, not \"" + text + "\"";
            if (value < low || value > high)
                return (unknownWord ? "unknown " + what + " " + text
                                    : what + " " + text + " is out of range") +
                       ": valid " + what + "s are " + range;
            return std::string();
        },
        range, what);
}

CLI::Validator McbNumber() { return Within(MCB_FIRST, MCB_LAST, "MCB number", true); }

CLI::Validator DetectorNumber() { return Within(1, MAX_DETECTORS, "detector number", true); }

void AddTarget(CLI::App* command, DetectorArgs* target, bool changes, bool ownerOption) {
    command->add_option("MCB", target->mcb, "MCB number, 9 to 16")
        ->required()
        ->check(McbNumber());
    command->add_option("DET", target->det, "detector number within the MCB, from 1")
        ->required()
        ->check(DetectorNumber());
    target->changes = changes;
    if (!changes) return;
    if (ownerOption)
        command->add_option("--owner", target->owner,
                            "the lock owner this run acts for: a detector locked by this owner is "
                            "not refused")
            ->type_name("NAME");
    command->add_flag("--force", target->force,
                      "go ahead even when another owner has locked the detector");
}

void AddView(CLI::App* command, int* view) {
    command->add_option("--view", *view, "view number (default 0)")->check(Within(0, 1000, "view number"));
}

}  // namespace kestrel_tool

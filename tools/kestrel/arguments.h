// Arguments more than one subcommand takes.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "kestrel/options.h"

namespace kestrel_tool {

// An integer from `low` to `high`; otherwise the message names what is
// wrong and what would be right.
// `unknownWord`: out of range means there is no such thing ("unknown MCB
// number 17") rather than a value too big or too small.
CLI::Validator Within(long long low, long long high, const std::string& what,
                      bool unknownWord = false);

// An MCB number, a detector number: out of range, there is no such thing.
CLI::Validator McbNumber();
CLI::Validator DetectorNumber();

// The detector a command works on. A command that `changes` it is refused
// on a detector another owner has locked, unless --owner or --force say
// otherwise; `lock` gives the owner as an argument instead.
void AddTarget(CLI::App* command, DetectorArgs* target, bool changes, bool ownerOption = true);

// --view, as read and roi take it.
void AddView(CLI::App* command, int* view);

}  // namespace kestrel_tool

// A detector's lock, kept by the tool: the add-in hands a detector to
// whoever asks, so every command that changes one checks the lock first.
#pragma once

#include "kestrel/addin.h"
#include "kestrel/options.h"

namespace kestrel_tool {

// Throws ToolError (failed), naming the owner, when the detector is locked
// by another owner than `target.owner` and `target.force` is not set.
void RequireLockFree(Addin& addin, const DetectorArgs& target);

// An owner as the add-in gives it back: the stored "NUMBER OWNER" is read
// from its first character that is no digit, punctuation or blank.
std::string OwnerAsStored(const std::string& owner);

}  // namespace kestrel_tool

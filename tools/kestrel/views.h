// Why a view cannot be used: the add-in only says that selecting it failed.
#pragma once

#include <string>

#include "kestrel/addin.h"

namespace kestrel_tool {

// Throws ToolError (usage) when `view` is not 0 and the detector has no
// views at all.
void RequireViewFeature(Addin& addin, int mcb, int det, int view);

// The reason to give when an operation on `view` failed with result -1.
std::string ViewFailure(int view);

}  // namespace kestrel_tool

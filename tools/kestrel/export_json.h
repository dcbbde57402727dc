// `list --json` and `read --json`: what the text output says, for scripts.
#pragma once

#include <cstdio>
#include <vector>

#include "kestrel/spectrum.h"
#include "kestrel/survey.h"

namespace kestrel_tool {

// Times are seconds since 1970 (null when not known) with an ISO 8601 UTC
// text beside them; texts are UTF-8.
void PrintUnitsJson(std::FILE* out, const std::vector<UnitInfo>& units);
void PrintSpectrumJson(std::FILE* out, const Spectrum& spectrum);

}  // namespace kestrel_tool

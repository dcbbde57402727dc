// A spectrum as CSV: "# name: value" lines of metadata (detector, start,
// times, first channel), a header line, then one "channel,counts" row per
// channel.
#pragma once

#include <string>

#include "kestrel/spectrum.h"

namespace kestrel_tool {

// `path` "-" writes to standard output. Throws ToolError when the file
// cannot be written.
void WriteCsv(const Spectrum& spectrum, const std::string& path);

}  // namespace kestrel_tool

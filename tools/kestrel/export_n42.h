// A spectrum as an ANSI N42.42 document: RadInstrumentData with one
// RadMeasurement whose Spectrum holds the counts in ChannelData, the times
// the unit reported (a Remark says where one is not measured) and the
// channel offset of a partial read.
#pragma once

#include <string>

#include "kestrel/spectrum.h"

namespace kestrel_tool {

// `path` "-" writes to standard output. Throws ToolError when the file
// cannot be written.
void WriteN42(const Spectrum& spectrum, const std::string& path);

}  // namespace kestrel_tool

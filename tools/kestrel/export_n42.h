// A spectrum as an ANSI N42.42 document: RadInstrumentData with one
// RadMeasurement whose Spectrum holds the counts in ChannelData, the times
// the unit reported (Remarks say how the live time is found and where a
// time was given by the user) and the channel offset of a partial read. A
// file states no time as measured that kestrel does not know: an input of
// no real time and no counts (never started) has no RadMeasurement, and
// one of an unknown real time is not written at all.
#pragma once

#include <string>

#include "kestrel/spectrum.h"

namespace kestrel_tool {

// Throws ToolError (failed), saying why and what would help, when the
// times of `spectrum` make no N42 measurement.
void RequireN42Times(const Spectrum& spectrum);

// `path` "-" writes to standard output. Throws ToolError when the file
// cannot be written (or RequireN42Times does).
void WriteN42(const Spectrum& spectrum, const std::string& path);

}  // namespace kestrel_tool

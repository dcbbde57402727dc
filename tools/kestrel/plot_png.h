// A spectrum plotted into a PNG file (PLplot, device "pngcairo"): channel
// numbers on the axis, ROIs shaded, totals and times in the title.
#pragma once

#include <string>

#include "kestrel/spectrum.h"

namespace kestrel_tool {

// Throws ToolError: usage when the file cannot be written, environment
// when PLplot or its PNG device is missing or fails.
void PlotPng(const Spectrum& spectrum, const std::string& path, bool logScale = false);

}  // namespace kestrel_tool

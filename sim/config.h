// Describing a simulated chain in a text file.
//
// The file is made of sections, each a header line in brackets followed by
// "key = value" lines. Blank lines and lines starting with '#' or ';' are
// ignored; keys are lower case; numbers are decimal or 0x-hexadecimal.
//
//   [chain]
//   absent = floating            floating | echo | shared (what an empty MCB number shows)
//   epoch = 1039009530           unit clocks at start, seconds since 1970 (default: now)
//
//   [unit 9]                     MCB number 9 to 16; one section per unit
//   type = 5                     mailbox type, 4 or 5 (default 5)
//   version = 0919-005           8 characters; "474" in characters 2 to 4
//                                makes a four-device unit (always 4 inputs)
//   detectors = 2                inputs of a segment unit, 1 to 16 (default 1)
//   channels = 4096              channels per input, 1 to 65536 (default 4096)
//   report_total = 8192          what SHOW_CONF announces, if not the truth
//   report_detectors = 2
//   clock_offset = -3600         seconds added to the unit's clock
//   ... and any detector key below, as the default of every input
//
//   [unit 9 detector 2]          one input, 1-based; overrides the unit's keys
//   features = 0x110000 0x2000   up to 16 feature words; the rest are 0
//   data_mask = 0x7FFFFFFF
//   aux_mask = 0x80000000
//   views = 2                    views 0 to views-1 (default 1)
//   acquiring = yes              yes/no, true/false, 1/0
//   live_ms = 60000              counting time already in the spectrum
//   start = 1039009000           start stamp, seconds since 1970 (the unit
//                                shows it with clock_offset added)
//   app.@DESC = Left arm         a stored value: name after "app.", value to
//                                the end of the line (blanks around it dropped)
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/unit_config.h"

namespace sim {

// The chain a text describes, or none with the reason ("line 7: ...") in
// *error.
std::optional<ChainConfig> ParseChainConfig(std::string_view text, std::string* error);

// The same for a file; the reason then starts with the file name.
std::optional<ChainConfig> LoadChainConfig(const std::string& path, std::string* error);

}  // namespace sim

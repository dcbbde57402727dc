// Command line of kestrel-portd.
#pragma once

#include <string>

#include "common/names.h"

namespace portd {

struct Options {
    std::string windir;             // the Windows directory of the system served
    std::string device = NT_DEVICE_NAME;  // serves \\.\<device> at <windir>/dev/<device>
    std::string config;             // chain description; empty: the demo chain
    std::string group;              // who may use the units; empty: the Windows directory's group
    bool verbose = false;
};

// Parses the arguments. Returns -1 to go on, otherwise the exit code (help
// shown, or an error already reported).
int ParseOptions(int argc, char** argv, Options* options);

}  // namespace portd

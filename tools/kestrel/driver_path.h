// Where the add-in of a Windows directory finds its printer-port driver
// on Linux, and whether a driver service answers there.
#pragma once

#include <string>

namespace kestrel_tool {

// The add-in's Windows directory: $WINDIR when set and not empty, else
// the system-wide default.
std::string DefaultWindowsDirectory();
// WINDIR/dev/TarnDev: the socket behind the device \\.\TarnDev.
std::string DriverSocketPath(const std::string& windir);
// True when a service accepts connections on that socket; otherwise the
// system's reason in *reason when given.
bool DriverServiceAnswers(const std::string& windir, std::string* reason = nullptr);

}  // namespace kestrel_tool

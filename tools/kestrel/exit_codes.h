// What `kestrel` tells scripts through its exit status, and the error that
// carries one up to main().
#pragma once

#include <stdexcept>
#include <string>

namespace kestrel_tool {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,       // the add-in (or the MCB behind it) said no
    kExitUsage = 2,        // bad command line or bad input
    kExitEnvironment = 3,  // add-in library or driver service not available (or gone)
    kExitTimeout = 4,      // --timeout: a wait lasted longer
    // A reader closed standard output (`| head`): the run ends quietly with
    // the status a program killed by SIGPIPE has, as other tools in a
    // pipeline do.
    kExitClosedPipe = 141,
};

// Thrown where an operation cannot go on; main() prints the message and
// exits with the code.
class ToolError : public std::runtime_error {
public:
    ToolError(ExitCode code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

private:
    ExitCode code_;
};

}  // namespace kestrel_tool

// The error that carries an exit code (common/exit_codes.h) up to main().
#pragma once

#include <stdexcept>
#include <string>

#include "common/exit_codes.h"

namespace kestrel_tool {

using namespace tools;  // the exit codes

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

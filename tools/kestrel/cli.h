// The command line of `kestrel`: parses it and runs the chosen subcommand.
#pragma once

namespace kestrel_tool {

// The exit code. Usage errors are reported here (exit code 2); errors of
// the subcommands are thrown as ToolError.
int RunCommandLine(int argc, char** argv);

}  // namespace kestrel_tool

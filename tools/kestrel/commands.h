// The subcommands. Each cmd_*.cpp declares the arguments of its own and
// binds them to its run; the command line (cli.cpp) lists every
// subcommand with its help, and opens the session and checks the detector
// before the run. Errors that stop one are thrown as ToolError.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

#include "kestrel/options.h"

namespace CLI {
class App;
}

namespace kestrel_tool {

class Session;

// A subcommand bound to its arguments, which parsing fills in.
struct Runner {
    // Before the session opens: what the arguments alone decide. May be empty.
    std::function<void()> prepare;
    // The detector it works on, which must answer (and, for a command that
    // changes it, be free of other owners' locks); none: no such check.
    std::function<std::optional<DetectorArgs>()> target;
    // The exit code. `session` is null for a command that opens its own.
    std::function<int(const GlobalOptions& options, Session* session)> run;
};

// The runner of a command on the detector `args->target`: `prepare(Args&)`
// before the session (checks, and what they settle), then
// `run(options, session, args)`.
template <typename Args, typename Run, typename Prepare = std::nullptr_t>
Runner OnTarget(std::shared_ptr<Args> args, Run run, Prepare prepare = nullptr) {
    Runner runner;
    if constexpr (!std::is_same_v<Prepare, std::nullptr_t>) runner.prepare = [args, prepare] { prepare(*args); };
    runner.target = [args] { return std::optional<DetectorArgs>(args->target); };
    runner.run = [args, run](const GlobalOptions& options, Session* session) {
        return run(options, *session, *args);
    };
    return runner;
}

// Each adds the subcommand's arguments to `command`.
Runner DeclareList(CLI::App* command);
Runner DeclareRaw(CLI::App* command);
Runner DeclareRead(CLI::App* command);
Runner DeclareStart(CLI::App* command);
Runner DeclareStop(CLI::App* command);
Runner DeclareClear(CLI::App* command);
Runner DeclareWait(CLI::App* command);
Runner DeclareRoiSet(CLI::App* command);
Runner DeclareRoiClear(CLI::App* command);
Runner DeclareLock(CLI::App* command);
Runner DeclareUnlock(CLI::App* command);
Runner DeclareDescribe(CLI::App* command);
Runner DeclareSetId(CLI::App* command);
Runner DeclareStartTime(CLI::App* command);
Runner DeclareDemo(CLI::App* command);

}  // namespace kestrel_tool

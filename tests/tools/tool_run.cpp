#include "tools/tool_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "posix/process_wait.h"
#include "posix/temp_dir.h"

extern char** environ;

namespace kestrel_tool_test {
namespace {

bool Inherited(const char* entry) {
    // The tool must take these from the test alone.
    for (const char* name : {"WINDIR=", "KESTREL_ADDIN="})
        if (std::strncmp(entry, name, std::strlen(name)) == 0) return false;
    return true;
}

struct Started {
    pid_t pid = -1;
    std::string outPath, errPath;

    ToolRun Finish(int timeoutMs) const {
        ToolRun run;
        run.exitCode = kestrel_test::WaitForExit(pid, timeoutMs);
        run.out = kestrel_test::ReadText(outPath);
        run.err = kestrel_test::ReadText(errPath);
        return run;
    }
};

Started Start(const std::vector<std::string>& args, const ToolEnvironment& environment, const std::string& scratch) {
    std::vector<std::string> argv{KESTREL_TOOL_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (Inherited(*entry)) env.push_back(*entry);
    if (!environment.windir.empty()) env.push_back("WINDIR=" + environment.windir);
    for (const auto& variable : environment.extra)
        env.push_back(variable.first + "=" + variable.second);

    std::vector<char*> argvPointers, envPointers;
    for (std::string& arg : argv) argvPointers.push_back(arg.data());
    argvPointers.push_back(nullptr);
    for (std::string& variable : env) envPointers.push_back(variable.data());
    envPointers.push_back(nullptr);

    Started started;
    started.outPath = scratch + "/tool.out";
    started.errPath = scratch + "/tool.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, started.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, started.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!environment.workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, environment.workingDir.c_str());
    int spawned = posix_spawn(&started.pid, argvPointers[0], &actions, nullptr, argvPointers.data(),
                              envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error(std::string("cannot start the tool: ") + std::strerror(spawned));
    return started;
}

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args, const ToolEnvironment& environment,
                const std::string& scratch, int timeoutMs) {
    return Start(args, environment, scratch).Finish(timeoutMs);
}

ToolRun RunToolInterrupted(const std::vector<std::string>& args, const ToolEnvironment& environment,
                           const std::string& scratch, const std::string& after) {
    Started started = Start(args, environment, scratch);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kToolTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (kestrel_test::ReadText(started.outPath).find(after) != std::string::npos) {
            ::kill(started.pid, SIGINT);
            break;
        }
        siginfo_t info{};
        // Ended before it said it: left to Finish to reap.
        if (::waitid(P_PID, static_cast<id_t>(started.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return started.Finish(kToolTimeoutMs);
}

std::string Describe(const std::vector<std::string>& args, const ToolRun& run) {
    std::string text = "kestrel";
    for (const std::string& arg : args) text += " '" + arg + "'";
    return text + "\nexit code " + std::to_string(run.exitCode) + "\n--- stdout:\n" + run.out +
           "--- stderr:\n" + run.err;
}

}  // namespace kestrel_tool_test

#include "tools/tool_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

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

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args, const ToolEnvironment& environment,
                const std::string& scratch, int timeoutMs) {
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

    std::string outPath = scratch + "/tool.out";
    std::string errPath = scratch + "/tool.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!environment.workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, environment.workingDir.c_str());
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(),
                              envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error(std::string("cannot start the tool: ") + std::strerror(spawned));

    ToolRun run;
    run.exitCode = kestrel_test::WaitForExit(pid, timeoutMs);
    run.out = kestrel_test::ReadText(outPath);
    run.err = kestrel_test::ReadText(errPath);
    return run;
}

std::string Describe(const std::vector<std::string>& args, const ToolRun& run) {
    std::string text = "kestrel";
    for (const std::string& arg : args) text += " '" + arg + "'";
    return text + "\nexit code " + std::to_string(run.exitCode) + "\n--- stdout:\n" + run.out +
           "--- stderr:\n" + run.err;
}

}  // namespace kestrel_tool_test

// Without --sim the tool talks to the driver service of the Windows
// directory, like every other client: several runs share one chain.
#include <gtest/gtest.h>

#ifdef KESTREL_PORTD_PROGRAM

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "posix/process_wait.h"
#include "posix/temp_dir.h"
#include "tools/chain_files.h"
#include "tools/tool_run.h"

extern char** environ;

namespace kestrel_tool_test {
namespace {

using kestrel_test::TempDir;

// kestrel-portd serving a chain for one Windows directory.
class Service {
public:
    Service(const std::string& windir, const std::string& config, const std::string& log) {
        std::vector<std::string> args{KESTREL_PORTD_PROGRAM, "--windir", windir, "--config", config};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        // Ready once its socket is there.
        std::string socket = windir + "/dev/TarnDev";
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        struct stat info;
        while (pid_ > 0 && ::stat(socket.c_str(), &info) != 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Service() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        kestrel_test::WaitForExit(pid_, 10000);
    }
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

TEST(KestrelWithService, RunsShareTheChainTheServiceServes) {
    TempDir scratch;
    TempDir windir;
    std::string config = WriteChain(windir / "chain.conf", kStoppedChain);
    Service service(windir.path(), config, windir / "portd.log");
    ASSERT_TRUE(service.running());

    // Nothing acquires at first; one run starts input 2, the next sees it.
    std::vector<std::string> ask{"raw", "9", "1", "SHOW_ACTI"};
    ToolRun before = RunTool(ask, {windir.path(), "", {}}, scratch.path());
    ASSERT_EQ(before.exitCode, 0) << Describe(ask, before) << kestrel_test::ReadText(windir / "portd.log");
    EXPECT_NE(before.out.find("response: $C00000"), std::string::npos) << Describe(ask, before);

    std::vector<std::string> start{"raw", "9", "2", "START"};
    ToolRun started = RunTool(start, {windir.path(), "", {}}, scratch.path());
    ASSERT_EQ(started.exitCode, 0) << Describe(start, started);

    ToolRun after = RunTool(ask, {windir.path(), "", {}}, scratch.path());
    ASSERT_EQ(after.exitCode, 0) << Describe(ask, after);
    EXPECT_NE(after.out.find("response: $C00002"), std::string::npos) << Describe(ask, after);

    // --windir says where, instead of WINDIR.
    std::vector<std::string> list{"--windir", windir.path(), "list"};
    ToolRun listed = RunTool(list, {"", "", {}}, scratch.path());
    ASSERT_EQ(listed.exitCode, 0) << Describe(list, listed);
    EXPECT_NE(listed.out.find("active       yes"), std::string::npos) << Describe(list, listed);
}

}  // namespace
}  // namespace kestrel_tool_test

#endif  // KESTREL_PORTD_PROGRAM

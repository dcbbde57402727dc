// Failures the tool must never pass off as success, nor wait through in silence: a driver service that dies
// or stops, a stopped client holding the MCB mutex, output that cannot be written.
#include <gtest/gtest.h>

#ifdef KESTREL_PORTD_PROGRAM

#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/posix/driver_socket.h"
#include "platform/posix/named_mutex.h"
#include "posix/portd_process.h"
#include "posix/temp_dir.h"
#include "tools/chain_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

using kestrel_test::TempDir;
using Clock = std::chrono::steady_clock;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

pid_t ServicePid(const std::string& windir) {
    std::intptr_t fd = platform::posix::DriverSocketOpen(windir, "\\\\.\\TarnDev");
    ucred peer{};  // the kernel's word for who listens there
    socklen_t size = sizeof peer;
    ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &peer, &size);
    platform::posix::DriverSocketClose(fd);
    return peer.pid;
}

// A client stopped (as by Ctrl-Z) while it holds the add-in's MCB mutex.
pid_t StoppedHolder(const std::string& windir) {
    void* mutex = platform::posix::NamedMutexOpen(windir, "UADDVELDAMUTEXKS");
    pid_t child = ::fork();
    if (child == 0) {
        platform::posix::NamedMutexWait(mutex);
        ::raise(SIGSTOP);
        ::_exit(0);
    }
    ::waitpid(child, nullptr, WUNTRACED);  // stopped, so holding it
    platform::posix::NamedMutexClose(mutex);
    return child;
}

class KestrelFailure : public ::testing::Test {
protected:
    TempDir scratch, windir;
    std::string socket = windir / "dev/TarnDev";
    std::string config = WriteChain(windir / "chain.conf", kStoppedChain);
    std::unique_ptr<kestrel_test::PortdProcess> StartService(const std::string& log) {
        auto service = std::make_unique<kestrel_test::PortdProcess>(
            std::vector<std::string>{"--windir", windir.path(), "--config", config}, windir / log);
        EXPECT_TRUE(service->WaitServing(socket)) << service->Log();
        return service;
    }
    ToolRun Run(const std::vector<std::string>& args) { return RunTool(args, {windir.path(), "", {}}, scratch.path()); }
};

TEST_F(KestrelFailure, SaysWhatItWaitsForAndEndsWhenTheServiceGoes) {
    auto service = StartService("portd1.log");
    pid_t holder = StoppedHolder(windir.path());
    // A client waiting behind the stopped one says for what and for whom;
    // when the service is killed it ends at once, not after time-outs.
    ToolRun waiting;
    ::unlink((scratch / "tool.err").c_str());  // the last run's words
    std::thread client([&] { waiting = Run({"list"}); });
    for (auto until = Clock::now() + std::chrono::seconds(10);
         !Has(kestrel_test::ReadText(scratch / "tool.err"), "waiting for") && Clock::now() < until;)
        ::usleep(20000);
    service->Stop(SIGKILL);
    const auto killed = Clock::now();
    client.join();
    EXPECT_LT(Clock::now() - killed, std::chrono::seconds(3));
    EXPECT_EQ(waiting.exitCode, 3) << waiting.err;
    for (const std::string& part : std::vector<std::string>{
             "kestrel: waiting for the MCB mutex of " + windir.path() + ", held by process " +
                 std::to_string(holder) + " (", "), which is stopped; ",
             "kestrel: the port-driver service went away"})
        EXPECT_TRUE(Has(waiting.err, part)) << part << "\n" << waiting.err;
    EXPECT_EQ(waiting.err.find("waiting for"), waiting.err.rfind("waiting for")) << "said at every look:\n" << waiting.err;

    // The holder gone and the service back on the same directory: reached again.
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    service = StartService("portd2.log");
    ToolRun again = Run({"list"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(Has(again.out, "MCB 12: version 8474-001")) << again.out;

    pid_t servicePid = ServicePid(windir.path());
    ASSERT_GT(servicePid, 0);
    ::kill(servicePid, SIGSTOP);
    ToolRun unanswered = Run({"--timeout", "2.6", "list"});
    ::kill(servicePid, SIGCONT);
    EXPECT_EQ(unanswered.exitCode, 4) << unanswered.err;
    std::string stopped = "the port-driver service at " + socket + ", process " +
                          std::to_string(servicePid) + " (kestrel-portd), which does not answer: it is stopped";
    EXPECT_TRUE(Has(unanswered.err, "kestrel: waiting for " + stopped)) << unanswered.err;
    EXPECT_TRUE(Has(unanswered.err, " s (--timeout) waiting for " + stopped)) << unanswered.err;
    EXPECT_TRUE(Has(unanswered.err, "kestrel: gave up after ")) << unanswered.err;
    EXPECT_EQ(service->Stop(SIGTERM), 0) << service->Log();
}

// The add-in's link to the service outlives a restart: the request the
// break cut fails, the next one connects afresh.
TEST_F(KestrelFailure, TheDriverLinkReachesARestartedService) {
    auto service = StartService("portd1.log");
    std::intptr_t driver = platform::posix::DriverSocketOpen(windir.path(), "\\\\.\\TarnDev");
    std::uint8_t out[4];
    std::uint32_t returned = 0;
    EXPECT_TRUE(platform::posix::DriverSocketIoctl(driver, 0x9C402400, "\x78\x03\0", 4, out, 4, &returned));
    service->Stop(SIGKILL);
    EXPECT_FALSE(platform::posix::DriverSocketIoctl(driver, 0x9C402400, out, 4, out, 4, &returned));
    service = StartService("portd2.log");
    EXPECT_TRUE(platform::posix::DriverSocketIoctl(driver, 0x9C402400, "\x78\x03\0", 4, out, 4, &returned));
    platform::posix::DriverSocketClose(driver);
}

// Shell lines, $K the tool, $P the service program, $W the Windows directory, $F a file system with no
// space left that holds s.csv, s.n42 and s.png ("old" each). "says" is in the combined output; "": nothing.
struct ShellCase {
    const char* what;
    const char* line;
    int exitCode;
    const char* says;
};

const ShellCase kShellCases[] = {
    {"help and list to a full device", R"("$K" --help > /dev/full; h=$?; "$P" --help > /dev/full; p=$?; "$K" list > /dev/full; exit $((h * 100 + p * 10 + $?)))",
     111, "kestrel: cannot write standard output: No space left on device"},
    {"JSON to a full device", R"("$K" read 9 1 --json > /dev/full)", 1, "kestrel: cannot write standard output: No space left on device"},
    {"a write error other than a closed pipe is one", R"("$K" read 9 1 --csv - 1< /dev/null; a=$?; "$K" list 1< /dev/null; exit $((a + $?)))", 2,
     "kestrel: cannot write standard output: Bad file descriptor"},
    {"CSV to a full device", R"("$K" read 9 1 --csv /dev/full)", 1, "kestrel: cannot write /dev/full: No space left on device"},
    {"N42 to a full device", R"("$K" read 9 1 --n42 /dev/full)", 1, "kestrel: cannot write /dev/full: No space left on device"},
    {"PNG to a full device", R"("$K" read 9 1 --png /dev/full)", 1, "kestrel: cannot write /dev/full: No space left on device"},
    {"a full file system: each export fails and leaves the earlier file, and nothing else",
     R"sh(for x in csv n42 png; do "$K" --quiet read 9 1 --$x "$F/s.$x" && exit 9; [ "$(cat "$F/s.$x")" = old ] || exit 8; done;
        ls -A "$F" | grep -v '^s\.\|^fill$' && exit 7; "$K" read 9 1 --json > "$F/s.json")sh", 1,
     "kestrel: cannot write $F/s.png: No space left on device (the earlier file is left as it was)"},
    {"a closed pipe ends every format quietly",
     R"sh(for a in "read 9 1" "read 9 1 --json" "--quiet read 9 1 --n42 -" "list" "list --json"; do
          { "$K" $a; echo $? > "$W/code"; } | true; [ "$(cat "$W/code")" = 141 ] || exit 1; done; exit 141)sh", 141, ""},
    {"an export replaces no link and no directory",
     R"(ln -s "$W/code" "$W/link.csv"; mkdir "$W/dir.n42"; "$K" read 9 1 --csv "$W/link.csv" --n42 "$W/dir.n42"; c=$?;
        [ -L "$W/link.csv" ] && [ -d "$W/dir.n42" ] && exit $c)", 2, "kestrel: cannot write $W/link.csv: it is a symbolic link"},
    {"two exports to one file, none written", R"("$K" read 9 1 --csv "$W/same" --n42 "$W/./same"; c=$?; [ ! -e "$W/same" ] && exit $c)", 2, "kestrel: two exports to"},
    {"exports replace earlier files", R"sh(echo old > "$W/a"; "$K" read 9 1 --csv "$W/a" --n42 "$W/b" && grep -q '^0,' "$W/a" && ! ls -A "$W" | grep kestrel-)sh", 0, "wrote "},
    {"a bad option of the service", R"("$P" --bogus)", 2, "kestrel-portd: The following argument was not expected: --bogus"},
    {"a bad option of the tool", R"("$K" --timeout 0 list)", 2, "kestrel: --timeout:"},
    {"versions", R"("$K" --version && "$P" --version)", 0, "kestrel " KESTREL_VERSION "\nkestrel-portd " KESTREL_VERSION "\n"},
};

// A small file system with no space left, as root (the tests run as root in CI): unmounted in every outcome.
class FullFileSystem {
public:
    explicit FullFileSystem(const std::string& path) : path_(path) {
        ::mkdir(path.c_str(), 0700);
        if (::geteuid() != 0 || ::mount("kestrel-full", path.c_str(), "tmpfs", 0, "size=256k") != 0) return;
        mounted_ = true;
        for (const char* name : {"s.csv", "s.n42", "s.png"}) kestrel_test::WriteText(path + "/" + name, "old\n");
        std::FILE* fill = std::fopen((path + "/fill").c_str(), "w");
        static const char block[4096] = {};
        while (fill != nullptr && std::fwrite(block, 1, sizeof block, fill) == sizeof block) {
        }
        if (fill != nullptr) std::fclose(fill);
    }
    ~FullFileSystem() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

TEST_F(KestrelFailure, RefusalsAndLostOutputAreNeverSuccess) {
    auto service = StartService("portd.log");
    FullFileSystem full(scratch / "full");
    if (!full.mounted()) std::printf("not root, or no tmpfs: the full file system case is skipped\n");
    ::setenv("K", KESTREL_TOOL_PROGRAM, 1);
    ::setenv("P", KESTREL_PORTD_PROGRAM, 1);
    ::setenv("W", windir.path().c_str(), 1);
    ::setenv("F", (scratch / "full").c_str(), 1);
    for (const ShellCase& c : kShellCases) {
        std::string what = c.what;
        if (what.find("full file system") != std::string::npos && !full.mounted()) continue;
        std::string command = "export WINDIR=\"$W\"; " + std::string(c.line);
        int status = std::system(("(" + command + ") > '" + scratch / "out" + "' 2>&1").c_str());
        const std::string said = kestrel_test::ReadText(scratch / "out");
        std::string says = c.says;
        for (auto [name, value] : {std::pair{"$F", scratch / "full"}, {"$W", windir.path()}})
            if (says.find(name) != std::string::npos) says.replace(says.find(name), 2, value);
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << c.what << "\n" << said;
        if (says.empty()) EXPECT_EQ(said, "") << c.what;
        else EXPECT_TRUE(Has(said, says)) << c.what << "\n" << said;
    }
}

}  // namespace
}  // namespace kestrel_tool_test

#endif  // KESTREL_PORTD_PROGRAM

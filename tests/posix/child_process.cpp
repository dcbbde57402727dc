#include "posix/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "platform/posix/files.h"
#include "posix/process_wait.h"
#include "posix/temp_dir.h"

extern char** environ;

namespace kestrel_test {
namespace {

constexpr int kChildIn = 3;   // the child reads its orders here
constexpr int kChildOut = 4;  // and writes its reports here
constexpr const char* kRoleVariable = "KESTREL_CHILD_ROLE";
constexpr const char* kArgVariable = "KESTREL_CHILD_ARG";
constexpr const char* kParentVariable = "KESTREL_CHILD_PARENT";

std::map<std::string, ChildRole>& Roles() {
    static std::map<std::string, ChildRole> roles;
    return roles;
}

bool WriteLine(int fd, const std::string& line) { return platform::posix::WriteAll(fd, line + "\n"); }

// Moves a descriptor above the ones the child's layout uses.
int HighCloexec(int fd) {
    int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

}  // namespace

// The child's side: a test registered only in child processes, so the
// parent's own test list stays clean. It runs the role and leaves the
// process with the role's exit code.
class ChildRunner : public ::testing::Test {
public:
    void TestBody() override {
        const char* parent = std::getenv(kParentVariable);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (parent == nullptr || ::getppid() != static_cast<pid_t>(std::atoi(parent))) _exit(97);
        auto found = Roles().find(std::getenv(kRoleVariable));
        if (found == Roles().end()) _exit(98);
        ChildChannel channel;
        const char* arg = std::getenv(kArgVariable);
        channel.arg_ = arg != nullptr ? arg : "";
        int code = found->second(channel);
        if (code == 0 && HasFailure()) code = 1;
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(code);
    }
};

namespace {

const bool g_childRegistered = [] {
    if (std::getenv(kRoleVariable) == nullptr) return false;
    ::testing::RegisterTest("KestrelChild", "Run", nullptr, nullptr, __FILE__, __LINE__,
                            []() -> ::testing::Test* { return new ChildRunner; });
    return true;
}();

}  // namespace

ChildRoleRegistration::ChildRoleRegistration(const char* name, ChildRole role) {
    Roles()[name] = role;
}

void ChildChannel::Send(const std::string& line) { WriteLine(kChildOut, line); }

std::string ChildChannel::Receive() {
    while (true) {
        std::string::size_type newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        char chunk[256];
        ssize_t got = ::read(kChildIn, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::string();
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

// --- parent side ------------------------------------------------------------

Child::Child(const std::string& role, const std::string& windir, const std::string& arg) {
    static std::atomic<int> serial{0};
    logPath_ = windir + "/child-" + role + "-" + std::to_string(++serial) + ".log";
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) return;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return;
    }
    for (int* fd : {&toChild[0], &toChild[1], &fromChild[0], &fromChild[1]}) *fd = HighCloexec(*fd);

    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string variable = *entry;
        for (const char* name : {"WINDIR=", "KESTREL_CHILD_ROLE=", "KESTREL_CHILD_ARG=",
                                 "KESTREL_CHILD_PARENT=", "GTEST_OUTPUT=", "XML_OUTPUT_FILE="})
            if (variable.rfind(name, 0) == 0) variable.clear();
        if (!variable.empty()) variables.push_back(variable);
    }
    variables.push_back("WINDIR=" + windir);
    variables.push_back(std::string(kRoleVariable) + "=" + role);
    variables.push_back(std::string(kArgVariable) + "=" + arg);
    variables.push_back(std::string(kParentVariable) + "=" + std::to_string(::getpid()));
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(&variable[0]);
    envp.push_back(nullptr);

    std::string program = "/proc/self/exe";
    std::string filter = "--gtest_filter=KestrelChild.Run";
    char* argv[] = {&program[0], &filter[0], nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], kChildIn);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], kChildOut);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    toChild_ = toChild[1];
    fromChild_ = fromChild[0];
    if (rc != 0) {
        pid_ = -1;
        ADD_FAILURE() << "posix_spawn failed: " << std::strerror(rc);
    }
}

Child::~Child() {
    if (pid_ > 0 && !reaped_) Kill();
    if (toChild_ >= 0) ::close(toChild_);
    if (fromChild_ >= 0) ::close(fromChild_);
}

bool Child::Send(const std::string& line) {
    // A child that died must not kill the test with SIGPIPE.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    bool ok = toChild_ >= 0 && WriteLine(toChild_, line);
    ::sigaction(SIGPIPE, &previous, nullptr);
    return ok;
}

std::string Child::Receive(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        std::string::size_type newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 || fromChild_ < 0) return std::string();
        pollfd entry{fromChild_, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::string();
        char chunk[256];
        ssize_t got = ::read(fromChild_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::string();
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

bool Child::Expect(const std::string& line, int timeoutMs) {
    std::string got = Receive(timeoutMs);
    if (got == line) return true;
    ADD_FAILURE() << "expected \"" << line << "\" from the child, got \"" << got
                  << "\"; its log:\n"
                  << Log();
    return false;
}

int Child::Wait(int timeoutMs) {
    if (pid_ <= 0) return -1;
    if (!reaped_) {
        exitCode_ = WaitForExit(pid_, timeoutMs);
        reaped_ = true;
    }
    return exitCode_;
}

void Child::Kill() {
    if (pid_ <= 0 || reaped_) return;
    ::kill(pid_, SIGKILL);
    Wait();
}

std::string Child::Log() const { return ReadText(logPath_); }

}  // namespace kestrel_test

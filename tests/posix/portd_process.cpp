#include "posix/portd_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "posix/process_wait.h"
#include "posix/temp_dir.h"

extern char** environ;

namespace kestrel_test {

constexpr int kChildTimeoutMs = 10000;

#ifndef KESTREL_PORTD_PROGRAM
#define KESTREL_PORTD_PROGRAM ""
#endif
static const char* const kProgram = KESTREL_PORTD_PROGRAM;
bool PortdAvailable() { return *kProgram != '\0'; }

static bool SocketAnswers(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

PortdProcess::PortdProcess(const std::vector<std::string>& args, const std::string& logPath)
    : logPath_(logPath) {
    std::vector<std::string> words{kProgram};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (::posix_spawn(&pid_, kProgram, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

bool PortdProcess::WaitServing(const std::string& socketPath) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kChildTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (SocketAnswers(socketPath)) return true;
        if (pid_ <= 0 || reaped_) return false;
        if ((exitCode_ = WaitForExit(pid_, 0)) != -2) return reaped_ = true, false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

int PortdProcess::Stop(int signal) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, signal);
    return Wait();
}

int PortdProcess::Wait() {
    if (pid_ > 0 && !reaped_) exitCode_ = WaitForExit(pid_, kChildTimeoutMs), reaped_ = true;
    return exitCode_;
}

std::string PortdProcess::Log() const { return ReadText(logPath_); }

}  // namespace kestrel_test

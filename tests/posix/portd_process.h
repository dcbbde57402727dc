// The real kestrel-portd program, started for a test and always stopped.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrel_test {

// Whether the build made the program (it needs CLI11).
bool PortdAvailable();

class PortdProcess {
public:
    // Starts it with these arguments; its output goes to `logPath`.
    PortdProcess(const std::vector<std::string>& args, const std::string& logPath);
    ~PortdProcess() { Stop(9); }  // SIGKILL
    PortdProcess(const PortdProcess&) = delete;
    PortdProcess& operator=(const PortdProcess&) = delete;
    // True once a client can connect to `socketPath` (bounded wait).
    bool WaitServing(const std::string& socketPath);
    int Stop(int signal);  // sends it; the exit code as WaitForExit gives it
    int Wait();
    std::string Log() const;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int exitCode_ = -1;
    std::string logPath_;
};

}  // namespace kestrel_test

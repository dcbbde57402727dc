// Real child processes for tests: the test program itself, started afresh
// (posix_spawn of /proc/self/exe) in a named role, so the child begins with
// its own platform state like any other client process.
//
// Parent and child talk in lines over two pipes. Every wait of the parent
// is bounded; a child whose parent dies is killed, and a child still
// running when its Child object goes is killed and reaped.
#pragma once

#include <sys/types.h>

#include <string>

namespace kestrel_test {

// --- in the child ------------------------------------------------------------

class ChildChannel {
public:
    // The argument the parent gave at spawn.
    const std::string& arg() const { return arg_; }
    void Send(const std::string& line);
    // The next line from the parent; empty when the parent has gone.
    std::string Receive();
    // Waits for exactly this line; false when something else came.
    bool Expect(const std::string& line) { return Receive() == line; }

private:
    friend class ChildRunner;
    std::string arg_;
    std::string pending_;
};

// A role returns the child's exit code (0: all went as planned).
using ChildRole = int (*)(ChildChannel& channel);

struct ChildRoleRegistration {
    ChildRoleRegistration(const char* name, ChildRole role);
};

// Defines a role: KESTREL_CHILD_ROLE(Name) { ... return 0; }
#define KESTREL_CHILD_ROLE(name)                                                          \
    static int ChildRole_##name(::kestrel_test::ChildChannel& channel);                  \
    static const ::kestrel_test::ChildRoleRegistration g_childRole_##name(#name,          \
                                                                          &ChildRole_##name); \
    static int ChildRole_##name(::kestrel_test::ChildChannel& channel)

// --- in the parent -------------------------------------------------------------

constexpr int kChildTimeoutMs = 10000;

class Child {
public:
    // Starts the role with WINDIR set to `windir`; its output goes to a log
    // file in that directory.
    Child(const std::string& role, const std::string& windir, const std::string& arg = "");
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool Send(const std::string& line);
    // The next line, or empty once the time is up or the child closed its
    // end.
    std::string Receive(int timeoutMs = kChildTimeoutMs);
    // Adds a test failure (with the child's log) unless the next line is
    // exactly `line`.
    bool Expect(const std::string& line, int timeoutMs = kChildTimeoutMs);
    // The exit code, 128 + signal number for a signal, -1 when the child
    // had to be killed after the time-out.
    int Wait(int timeoutMs = kChildTimeoutMs);
    // SIGKILL, then reap.
    void Kill();
    // Whatever the child wrote to its standard output and error.
    std::string Log() const;

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    int exitCode_ = -1;
    bool reaped_ = false;
    std::string logPath_;
    std::string pending_;
};

}  // namespace kestrel_test

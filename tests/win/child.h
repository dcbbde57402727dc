// Child processes for the cross-process tests: the test program starts
// itself with `--kestrel-child=ROLE ARG...`, and main() runs the role
// instead of the tests. A role's exit code is its verdict (0 = as expected).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/win32_os.h"

namespace wintest {

// Path of this test program, and of the add-in DLL the build puts beside it.
std::string ProgramPath();
std::string AddinDllPath();

// A name unique to this process and call, for mutexes, events and files.
std::string UniqueName(const char* prefix);

class ChildProcess {
public:
    ChildProcess(const std::string& role, const std::vector<std::string>& args);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running at the end of a test is killed.
    ~ChildProcess();

    bool Started() const { return process_ != nullptr; }
    // The exit code, or nothing (false) when it has not ended within `ms`.
    bool Wait(DWORD ms, DWORD* exitCode);
    void Kill();

private:
    HANDLE process_ = nullptr;
};

// A named manual-reset event a child signals when it is ready.
class ReadyEvent {
public:
    ReadyEvent();
    ~ReadyEvent();
    const std::string& Name() const { return name_; }
    bool Wait(DWORD ms);

private:
    std::string name_;
    HANDLE event_;
};

// Signals the parent's ReadyEvent of that name (in a child).
bool SignalReady(const std::string& name);

// Runs a child role; the exit code of the child process.
int RunChildRole(const std::string& role, const std::vector<std::string>& args);

}  // namespace wintest

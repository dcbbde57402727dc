#include "win/child.h"

#include <atomic>

namespace wintest {

std::string ProgramPath() {
    char szPath[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, szPath, sizeof szPath);
    return std::string(szPath, length);
}

std::string AddinDllPath() {
    std::string path = ProgramPath();
    return path.substr(0, path.find_last_of("\\/") + 1) + "kestrel.dll";
}

std::string UniqueName(const char* prefix) {
    static std::atomic<int> counter{0};
    return std::string(prefix) + std::to_string(::GetCurrentProcessId()) + "_" +
           std::to_string(++counter);
}

ChildProcess::ChildProcess(const std::string& role, const std::vector<std::string>& args) {
    std::string commandLine = "\"" + ProgramPath() + "\" --kestrel-child=" + role;
    for (const std::string& arg : args) commandLine += " " + arg;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &info)) {
        ::CloseHandle(info.hThread);
        process_ = info.hProcess;
    }
}

ChildProcess::~ChildProcess() {
    if (process_ == nullptr) return;
    DWORD exitCode = 0;
    if (!Wait(0, &exitCode)) Kill();
    ::CloseHandle(process_);
}

bool ChildProcess::Wait(DWORD ms, DWORD* exitCode) {
    if (process_ == nullptr || ::WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return false;
    return ::GetExitCodeProcess(process_, exitCode) != FALSE;
}

void ChildProcess::Kill() {
    if (process_ == nullptr) return;
    ::TerminateProcess(process_, 99);
    ::WaitForSingleObject(process_, 10000);
}

ReadyEvent::ReadyEvent()
    : name_(UniqueName("KestrelTestReady")),
      event_(::CreateEventA(nullptr, TRUE, FALSE, name_.c_str())) {}

ReadyEvent::~ReadyEvent() {
    if (event_) ::CloseHandle(event_);
}

bool ReadyEvent::Wait(DWORD ms) {
    return event_ != nullptr && ::WaitForSingleObject(event_, ms) == WAIT_OBJECT_0;
}

bool SignalReady(const std::string& name) {
    HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event == nullptr) return false;
    bool ok = ::SetEvent(event) != FALSE;
    ::CloseHandle(event);
    return ok;
}

}  // namespace wintest

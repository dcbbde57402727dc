// The Windows test program: the tests, or one child role when a
// cross-process test starts it as `--kestrel-child=ROLE ARG...`. A role's
// exit code is its verdict (0: as expected).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "win/win_test.h"

namespace wintest {

std::string UniqueName(const char* prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

ChildProcess::ChildProcess(const std::string& role, const std::string& args) {
    char szProgram[MAX_PATH];
    ::GetModuleFileNameA(nullptr, szProgram, sizeof szProgram);
    std::string commandLine = std::string("\"") + szProgram + "\" --kestrel-child=" + role + " " + args;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &info)) {
        ::CloseHandle(info.hThread);
        process_ = info.hProcess;
    }
}

DWORD ChildProcess::Wait(DWORD ms) {
    DWORD exitCode = STILL_ACTIVE;
    if (process_ && ::WaitForSingleObject(process_, ms) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process_, &exitCode);
    return exitCode;
}

void ChildProcess::Kill() {
    if (process_ == nullptr) return;
    ::TerminateProcess(process_, 99);
    ::WaitForSingleObject(process_, 10000);
    ::CloseHandle(process_);
    process_ = nullptr;
}

int RunChildRole(const std::string& role, const std::vector<std::string>& args) {
    AddinDll addin;
    if (!addin.Loaded()) return 10;
    if (role == "addin-peer") {
        // Opens and closes the add-in while the parent has it open; what it
        // saw goes into the shared table for the parent to check.
        std::uint32_t* pdwReport = addin.Record(16).dwDetectorWord;
        pdwReport[1] = static_cast<std::uint32_t>(*addin->pnSystemOpenCount);
        addin.Call<bool>(0);
        pdwReport[2] = static_cast<std::uint32_t>(*addin->pnSystemOpenCount);
        addin.Call<bool>(1);
        pdwReport[3] = static_cast<std::uint32_t>(*addin->pnSystemOpenCount);
        return 0;
    }
    if (role == "addin-hold-mutex" && args.size() == 1) {
        // Takes the add-in's mutex, tells the parent, waits to be killed.
        HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, kAddinMutexName);
        if (mutex == nullptr || ::WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 11;
        HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, args[0].c_str());
        if (ready == nullptr || !::SetEvent(ready)) return 12;
        ::Sleep(60000);
    }
    return 13;
}

}  // namespace wintest

int main(int argc, char** argv) {
    const char kChild[] = "--kestrel-child=";
    if (argc > 1 && std::strncmp(argv[1], kChild, sizeof kChild - 1) == 0)
        return wintest::RunChildRole(argv[1] + sizeof kChild - 1, {argv + 2, argv + argc});
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

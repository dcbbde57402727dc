// The Windows test program: the tests, or a child role of a cross-process
// test, whose exit code is its verdict (0: as expected).
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "win/win_test.h"

namespace wintest {

ChildProcess::ChildProcess(const std::string& role, const std::string& arg) {
    char szProgram[MAX_PATH];
    ::GetModuleFileNameA(nullptr, szProgram, sizeof szProgram);
    std::string commandLine = std::string("\"") + szProgram + "\" --kestrel-child=" + role + " " + arg;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        ::CloseHandle(info.hThread);
        process = info.hProcess;
    }
}

DWORD ChildProcess::Wait(DWORD ms) {
    DWORD exitCode = STILL_ACTIVE;
    if (process && ::WaitForSingleObject(process, ms) == WAIT_OBJECT_0) ::GetExitCodeProcess(process, &exitCode);
    return exitCode;
}

void ChildProcess::Kill() {
    if (process && ::TerminateProcess(process, 99)) ::WaitForSingleObject(process, 10000);
    if (process) ::CloseHandle(std::exchange(process, nullptr));
}

int RunChildRole(const std::string& role, const char* arg) {
    AddinDll addin;
    if (!addin.Loaded()) return 10;
    if (role == "addin-peer") {
        // Opens and closes it while the parent has it open; the counts go to the shared table.
        std::uint32_t* pdwReport = addin.Record(16).dwDetectorWord;
        pdwReport[1] = *addin->pnSystemOpenCount;
        addin.Call<bool>(0);
        pdwReport[2] = *addin->pnSystemOpenCount;
        addin.Call<bool>(1);
        pdwReport[3] = *addin->pnSystemOpenCount;
        return 0;
    }
    // "addin-hold-mutex EVENT": takes the add-in's mutex, sets the event, waits to be killed.
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, kAddinMutexName);
    if (mutex == nullptr || ::WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 11;
    HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, arg);
    if (ready == nullptr || !::SetEvent(ready)) return 12;
    ::Sleep(60000);
    return 13;
}

}  // namespace wintest

int main(int argc, char** argv) {
    const char kChild[] = "--kestrel-child=";
    if (argc > 1 && std::strncmp(argv[1], kChild, sizeof kChild - 1) == 0)
        return wintest::RunChildRole(argv[1] + sizeof kChild - 1, argc > 2 ? argv[2] : "");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

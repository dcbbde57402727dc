// The Windows test program's shared parts: child processes (this program
// again, as `--kestrel-child=ROLE ARG`), and kestrel.dll loaded as the host
// loads it, its slots called by number, its driver imports served by the
// simulator linked in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "addin/local_addin.h"
#include "platform/win32/win32_os.h"
#include "sim/chain.h"

#if defined(__i386__)
#define KESTREL_THISCALL __attribute__((thiscall))
#else
#define KESTREL_THISCALL
#endif

namespace wintest {

constexpr char kAddinMutexName[] = "UADDVELDAMUTEXKS";

// Killed, if still running, when it goes.
struct ChildProcess {
    ChildProcess(const std::string& role, const std::string& arg = "");
    ~ChildProcess() { Kill(); }
    DWORD Wait(DWORD ms);  // the exit code, or STILL_ACTIVE
    void Kill();
    HANDLE process = nullptr;
};

class AddinDll {
public:
    AddinDll();  // the kestrel.dll beside this program, where the build copies the product
    ~AddinDll() { Unload(); }
    void Unload();
    bool Loaded() const { return addin_ != nullptr; }
    HMODULE Module() const { return module_; }
    LocalAddin* operator->() const { return addin_; }  // the fields after the table pointer
    McbRecord& Record(int nMcb) const { return addin_->pMcbTable[nMcb - MCB_FIRST]; }

    template <typename R, typename... A>
    R Call(int slot, A... args) const {
        using Fn = R(KESTREL_THISCALL*)(void*, A...);
        return reinterpret_cast<Fn>((*reinterpret_cast<void***>(addin_))[slot])(addin_, args...);
    }
    // Points the DLL's imports of the driver calls and GetVersionExA, in
    // memory, at Sim(); the names redirected.
    std::vector<std::string> ServeFromSimulator();

private:
    HMODULE module_ = nullptr;
    LocalAddin* addin_ = nullptr;
};

// What the redirected imports serve (a chain; the family GetVersionExA
// reports), and what they saw.
struct Simulated {
    std::unique_ptr<sim::Chain> chain;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    std::vector<std::string> opened;
    int driversOpen = 0;
    int flatFound = 0, flatNotFound = 0;  // Windows 95 writes: the caller's bytes found or not
};
Simulated& Sim();

}  // namespace wintest

// The Windows test program's shared parts: child processes (the program
// started again as `--kestrel-child=ROLE ARG...`), and kestrel.dll loaded as
// the host loads it, its slots called by number, its driver imports served
// by the simulator linked into this program.
#pragma once

#include <cstdint>
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

std::string UniqueName(const char* prefix);

class ChildProcess {
public:
    ChildProcess(const std::string& role, const std::string& args = "");
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Kill(); }
    // The exit code, or STILL_ACTIVE when it has not ended within `ms`.
    DWORD Wait(DWORD ms);
    void Kill();

private:
    HANDLE process_ = nullptr;
};

// A named event the parent waits on and a child sets.
class ReadyEvent {
public:
    ReadyEvent() : event_(::CreateEventA(nullptr, TRUE, FALSE, name_.c_str())) {}
    ~ReadyEvent() { ::CloseHandle(event_); }
    const std::string& Name() const { return name_; }
    bool Wait(DWORD ms) { return ::WaitForSingleObject(event_, ms) == WAIT_OBJECT_0; }

private:
    std::string name_ = UniqueName("KestrelReady");
    HANDLE event_;
};

int RunChildRole(const std::string& role, const std::vector<std::string>& args);

class AddinDll {
public:
    AddinDll();
    AddinDll(const AddinDll&) = delete;
    AddinDll& operator=(const AddinDll&) = delete;
    ~AddinDll() { Unload(); }
    void Unload();

    bool Loaded() const { return addin_ != nullptr; }
    HMODULE Module() const { return module_; }
    // The fields the host reads after the interface pointer.
    LocalAddin* operator->() const { return addin_; }
    McbRecord& Record(int nMcb) const { return addin_->pMcbTable[nMcb - MCB_FIRST]; }

    // A slot by its number, called as the host calls it.
    template <typename R, typename... A>
    R Call(int slot, A... args) const {
        using Fn = R(KESTREL_THISCALL*)(void*, A...);
        void** table = *reinterpret_cast<void***>(addin_);
        return reinterpret_cast<Fn>(table[slot])(addin_, args...);
    }
    // Points the DLL's imports of the driver calls and of GetVersionExA, in
    // memory, at the simulator below. The names redirected.
    std::vector<std::string> ServeFromSimulator();

private:
    HMODULE module_ = nullptr;
    LocalAddin* addin_ = nullptr;
};

// What the redirected imports serve: a chain, the Windows family that
// GetVersionExA reports (NT or Windows 95), and what they saw.
struct Simulated {
    std::unique_ptr<sim::Chain> chain;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    std::vector<std::string> opened;
    int driversOpen = 0;
    // Windows 95 write requests whose flat address was (not) the caller's bytes.
    int flatFound = 0, flatNotFound = 0;
};
Simulated& Sim();

// The section flags of the image section holding `address` in `module`; 0
// when no section holds it.
DWORD SectionFlags(HMODULE module, const void* address);

}  // namespace wintest

// kestrel.dll as the host loads it, and the test host's stand-ins for the
// kernel calls that reach the port driver.
#include <cstring>
#include <map>

#include "sim/driver.h"
#include "win/win_test.h"

namespace wintest {
namespace {

std::map<HANDLE, std::unique_ptr<sim::EmulatedDriver>> g_drivers;

// The caller's bytes behind a Windows 95 write request's flat address. The
// add-in writes from its stack: on 32-bit the flat address is the real one;
// on 64-bit it holds the low half of one, and the stack gives the rest.
const std::uint8_t* ResolveFlat(std::uint32_t flat, std::uint32_t length) {
    auto tib = reinterpret_cast<const NT_TIB*>(::NtCurrentTeb());
    auto low = reinterpret_cast<std::uintptr_t>(tib->StackLimit);
    auto high = reinterpret_cast<std::uintptr_t>(tib->StackBase);
    std::uintptr_t address = (low & ~std::uintptr_t{0xFFFFFFFF}) | flat;
    bool found = address >= low && address + length <= high;
    ++(found ? Sim().flatFound : Sim().flatNotFound);
    return found ? reinterpret_cast<const std::uint8_t*>(address) : nullptr;
}

HANDLE WINAPI SimCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (std::strncmp(path, "\\\\.\\", 4) != 0)
        return ::CreateFileA(path, access, share, security, disposition, flags, templateFile);
    Simulated& sim = Sim();
    sim.opened.push_back(path);
    const bool nt = sim.platformId == VER_PLATFORM_WIN32_NT;
    if (!sim.chain || std::strcmp(path, nt ? "\\\\.\\TarnDev" : "\\\\.\\KMZ01D.VXD") != 0) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto driver = std::make_unique<sim::EmulatedDriver>(*sim.chain);
    driver->protocol = nt ? sim::EmulatedDriver::Protocol::Nt : sim::EmulatedDriver::Protocol::Win95;
    driver->resolveFlat = ResolveFlat;
    static std::uintptr_t next = 0x4B530000;  // far from the handles Windows hands out
    HANDLE handle = reinterpret_cast<HANDLE>(next += 4);
    g_drivers[handle] = std::move(driver);
    ++sim.driversOpen;
    return handle;
}

BOOL WINAPI SimDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inLen, LPVOID out,
                               DWORD outLen, LPDWORD returned, LPOVERLAPPED overlapped) {
    auto found = g_drivers.find(handle);
    if (found == g_drivers.end()) return ::DeviceIoControl(handle, code, in, inLen, out, outLen, returned, overlapped);
    return found->second->Ioctl(code, in, inLen, out, outLen, reinterpret_cast<std::uint32_t*>(returned));
}

BOOL WINAPI SimCloseHandle(HANDLE handle) {
    if (g_drivers.erase(handle) == 0) return ::CloseHandle(handle);
    --Sim().driversOpen;
    return TRUE;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
BOOL WINAPI SimGetVersionExA(LPOSVERSIONINFOA version) {
    BOOL ok = ::GetVersionExA(version);
    version->dwPlatformId = Sim().platformId;
    return ok;
}
#pragma GCC diagnostic pop

}  // namespace

Simulated& Sim() {
    static Simulated simulated;
    return simulated;
}

AddinDll::AddinDll() {
    char szPath[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, szPath, sizeof szPath);
    std::string path(szPath, length);
    module_ = ::LoadLibraryA((path.substr(0, path.find_last_of("\\/") + 1) + "kestrel.dll").c_str());
    if (module_) addin_ = reinterpret_cast<LocalAddin*>(::GetProcAddress(module_, "AAPI_Addin"));
}

void AddinDll::Unload() {
    if (module_) ::FreeLibrary(module_);
    module_ = nullptr;
    addin_ = nullptr;
}

std::vector<std::string> AddinDll::ServeFromSimulator() {
    const std::map<std::string, void*> stands = {
        {"CreateFileA", reinterpret_cast<void*>(&SimCreateFileA)},
        {"DeviceIoControl", reinterpret_cast<void*>(&SimDeviceIoControl)},
        {"CloseHandle", reinterpret_cast<void*>(&SimCloseHandle)},
        {"GetVersionExA", reinterpret_cast<void*>(&SimGetVersionExA)}};
    std::vector<std::string> redirected;
    auto base = reinterpret_cast<BYTE*>(module_);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        auto name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            auto stand = stands.find(reinterpret_cast<const char*>(byName->Name));
            if (stand == stands.end()) continue;
            DWORD oldProtection = 0;
            ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &oldProtection);
            slot->u1.Function = reinterpret_cast<std::uintptr_t>(stand->second);
            ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, oldProtection, &oldProtection);
            redirected.push_back(stand->first);
        }
    }
    return redirected;
}

}  // namespace wintest

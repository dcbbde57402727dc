// The OS family, the printer-port driver and the loading host.
#include "platform/win32/win32_os.h"

namespace platform {

std::uint32_t Win32Os::PlatformId() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = 148;
    static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA has 148 bytes");
    // Deprecated in newer SDKs, but the platform id is all we read and it
    // is still reported correctly.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ::GetVersionExA(&version);
#pragma GCC diagnostic pop
    return version.dwPlatformId;
}

std::intptr_t Win32Os::DriverOpen(const char* path, std::uint32_t access, std::uint32_t share,
                                  std::uint32_t disposition, std::uint32_t flags) {
    HANDLE hDriver = ::CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    return reinterpret_cast<std::intptr_t>(hDriver);
}

bool Win32Os::DriverIoctl(std::intptr_t driver, std::uint32_t code, const void* in,
                          std::uint32_t inLen, void* out, std::uint32_t outLen,
                          std::uint32_t* returned) {
    DWORD cbReturned = 0;
    BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(driver), code, const_cast<void*>(in),
                                inLen, out, outLen, &cbReturned, nullptr);
    if (returned) *returned = cbReturned;
    return ok != FALSE;
}

void Win32Os::DriverClose(std::intptr_t driver) { ::CloseHandle(reinterpret_cast<HANDLE>(driver)); }

std::uint32_t Win32Os::FlatAddress(const void* bytes) {
    // The real address in a 32-bit process; a 64-bit process has no flat
    // 32-bit view of its memory, and no Windows 95 driver to hand it to.
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(bytes));
}

void* Win32Os::HostFunction(const char* name) {
    // The host library is hvnacc32.dll, loaded in the process before us;
    // a program that loads the add-in itself may export the functions from
    // its own image instead.
    FARPROC function = nullptr;
    if (HMODULE host = ::GetModuleHandleA("hvnacc32.dll")) function = ::GetProcAddress(host, name);
    if (!function) function = ::GetProcAddress(::GetModuleHandleA(nullptr), name);
    return reinterpret_cast<void*>(function);
}

}  // namespace platform

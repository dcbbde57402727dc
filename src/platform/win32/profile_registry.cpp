// Profile (INI) files and the registry.
#include "platform/win32/win32_os.h"

namespace platform {

std::uint32_t Win32Os::ProfileInt(const char* section, const char* key, int defaultValue,
                                  const char* file) {
    return ::GetPrivateProfileIntA(section, key, defaultValue, file);
}

std::uint32_t Win32Os::ProfileString(const char* section, const char* key,
                                     const char* defaultValue, char* buffer,
                                     std::uint32_t size, const char* file) {
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, file);
}

bool Win32Os::ProfileWrite(const char* section, const char* key, const char* value,
                           const char* file) {
    return ::WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

RegKey Win32Os::RegOpen(RegKey parent, const char* subKey) {
    constexpr REGSAM kKeyRead = 0x20019;  // KEY_READ
    HKEY hParent = parent ? static_cast<HKEY>(parent) : HKEY_LOCAL_MACHINE;
    HKEY hKey = nullptr;
    if (::RegOpenKeyExA(hParent, subKey, 0, kKeyRead, &hKey) != ERROR_SUCCESS) return nullptr;
    return hKey;
}

bool Win32Os::RegQuery(RegKey key, const char* valueName, std::uint8_t* data,
                       std::uint32_t* size) {
    DWORD dwType = 0;
    DWORD cbData = *size;
    LONG result = ::RegQueryValueExA(static_cast<HKEY>(key), valueName, nullptr, &dwType, data,
                                     &cbData);
    *size = cbData;
    return result == ERROR_SUCCESS;
}

void Win32Os::RegClose(RegKey key) { ::RegCloseKey(static_cast<HKEY>(key)); }

}  // namespace platform

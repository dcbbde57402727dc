// The contract test's place on Windows: the real system, with files of unique names in the Windows
// directory and a key of its own below HKEY_LOCAL_MACHINE, removed at the end.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/win32/win32_os.h"

struct Place {
    ~Place() {
        for (const std::string& file : files) ::DeleteFileA(file.c_str());
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str());
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, root.c_str());
    }
    std::string WindowsDirFile(const std::string& name) {
        char szDir[MAX_PATH];
        return files.emplace_back(std::string(szDir, ::GetWindowsDirectoryA(szDir, MAX_PATH)) + "\\" + name);
    }
    static std::string UniqueName(const char* prefix) {
        static std::atomic<int> counter{0};
        return prefix + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
    }
    void PutRegistryValue(const std::string& key, const std::string& name, const std::vector<std::uint8_t>& bytes) {
        HKEY hKey = nullptr;
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
        ::RegSetValueExA(hKey, name.c_str(), 0, REG_BINARY, bytes.data(), bytes.size());
        ::RegCloseKey(hKey);
    }

    platform::Os& os = platform::NativeOs();
    const std::string root = "SOFTWARE\\" + UniqueName("KestrelTest");
    std::vector<std::string> files;
};

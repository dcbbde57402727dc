// The contract test's place on Windows: the real system, with files in a
// folder of the temporary directory and a key of its own, removed at the end.
#include <atomic>

#include "platform/place.h"
#include "platform/win32/win32_os.h"

namespace contract {
namespace {

std::string Unique(const char* prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

std::string Folder(bool windows) {
    char szDir[MAX_PATH];
    return std::string(szDir, windows ? ::GetWindowsDirectoryA(szDir, MAX_PATH) : ::GetTempPathA(MAX_PATH, szDir));
}

struct Win32Place final : Place {
    Win32Place() { ::CreateDirectoryA(dir.c_str(), nullptr); }
    ~Win32Place() override {
        for (const std::string& file : files) ::DeleteFileA(file.c_str());
        ::RemoveDirectoryA(dir.c_str());
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str());
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, root.c_str());
    }
    platform::Os& Os() override { return platform::NativeOs(); }
    std::string PrivateFile(const std::string& name) override { return files.emplace_back(dir + "\\" + name); }
    std::string WindowsDirFile(const std::string& name) override {
        return files.emplace_back(Folder(true) + "\\" + name);
    }
    std::string RegistryRoot() override { return root; }
    void PutRegistryValue(const std::string& key, const std::string& name,
                          const std::vector<std::uint8_t>& bytes) override {
        HKEY hKey = nullptr;
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
        ::RegSetValueExA(hKey, name.c_str(), 0, REG_BINARY, bytes.data(), bytes.size());
        ::RegCloseKey(hKey);
    }
    std::string UniqueName(const char* prefix) override { return Unique(prefix); }

    std::string dir = Folder(false) + Unique("kpc");
    std::string root = "SOFTWARE\\" + Unique("KestrelTest");
    std::vector<std::string> files;
};

}  // namespace

std::unique_ptr<Place> NewPlace() { return std::make_unique<Win32Place>(); }

}  // namespace contract

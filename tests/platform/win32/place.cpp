// The contract test's place on Windows: the real system, with files in a
// folder of the temporary directory and keys below a key of its own, all
// removed at the end.
#include <atomic>
#include <vector>

#include "platform/place.h"
#include "platform/win32/win32_os.h"

namespace contract {
namespace {

std::string Unique(const char* prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

class Win32Place final : public Place {
public:
    Win32Place() {
        char szTemp[MAX_PATH];
        ::GetTempPathA(sizeof szTemp, szTemp);
        dir_ = szTemp + Unique("kpc");
        ::CreateDirectoryA(dir_.c_str(), nullptr);
    }
    ~Win32Place() override {
        for (const std::string& file : files_) ::DeleteFileA(file.c_str());
        ::RemoveDirectoryA(dir_.c_str());
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, root_.c_str());
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, root_.c_str());
    }
    platform::Os& Os() override { return platform::NativeOs(); }
    std::string PrivateFile(const std::string& name) override {
        return files_.emplace_back(dir_ + "\\" + name);
    }
    std::string WindowsDirFile(const std::string& name) override {
        char szDir[MAX_PATH];
        ::GetWindowsDirectoryA(szDir, sizeof szDir);
        return files_.emplace_back(std::string(szDir) + "\\" + name);
    }
    std::string RegistryRoot() override { return root_; }
    void PutRegistryValue(const std::string& key, const std::string& name,
                          const std::vector<std::uint8_t>& bytes) override {
        HKEY hKey = nullptr;
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey,
                          nullptr);
        ::RegSetValueExA(hKey, name.c_str(), 0, REG_BINARY, bytes.data(), bytes.size());
        ::RegCloseKey(hKey);
    }
    std::string UniqueName(const char* prefix) override { return Unique(prefix); }

private:
    std::string dir_;
    std::string root_ = "SOFTWARE\\" + Unique("KestrelTest");
    std::vector<std::string> files_;
};

}  // namespace

std::unique_ptr<Place> NewPlace() { return std::make_unique<Win32Place>(); }

}  // namespace contract

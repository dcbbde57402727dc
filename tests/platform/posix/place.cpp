// The contract test's place on Linux: a PosixOs over a private directory
// that plays the Windows directory, its registry the text file there.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/place.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/registry.h"

namespace contract {
namespace {

std::string MakeTempDir() {
    char pattern[] = "/tmp/kpc-XXXXXX";
    return ::mkdtemp(pattern) ? pattern : "";
}

class PosixPlace final : public Place {
public:
    ~PosixPlace() override { std::filesystem::remove_all(dir_); }
    platform::Os& Os() override { return os_; }
    std::string PrivateFile(const std::string& name) override {
        std::filesystem::create_directories(dir_ + "/private");
        return dir_ + "/private/" + name;
    }
    std::string WindowsDirFile(const std::string& name) override { return dir_ + "/windows/" + name; }
    std::string RegistryRoot() override { return "SOFTWARE\\KestrelTest"; }
    void PutRegistryValue(const std::string& key, const std::string& name,
                          const std::vector<std::uint8_t>& bytes) override {
        std::string& line = values_[key];
        line += name + " =";
        for (std::uint8_t byte : bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", byte);
            line += hex;
        }
        line += "\n";
        std::ofstream file(dir_ + "/windows/" + platform::posix::kRegistryFile, std::ios::trunc);
        for (const auto& [path, text] : values_) file << "[" << path << "]\n" << text;
    }
    std::string UniqueName(const char* prefix) override { return prefix; }

private:
    std::string dir_ = MakeTempDir();
    platform::posix::PosixOs os_{dir_ + "/windows"};
    std::map<std::string, std::string> values_;
};

}  // namespace

std::unique_ptr<Place> NewPlace() { return std::make_unique<PosixPlace>(); }

}  // namespace contract

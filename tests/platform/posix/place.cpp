// The contract test's place on Linux: a PosixOs over a private directory
// that plays the Windows directory, its registry the text file there.
#include <stdlib.h>

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

struct PosixPlace final : Place {
    ~PosixPlace() override { std::filesystem::remove_all(dir); }
    platform::Os& Os() override { return os; }
    std::string PrivateFile(const std::string& name) override { return dir + "/" + name; }
    std::string WindowsDirFile(const std::string& name) override { return dir + "/windows/" + name; }
    std::string RegistryRoot() override { return "SOFTWARE\\KestrelTest"; }
    void PutRegistryValue(const std::string& key, const std::string& name,
                          const std::vector<std::uint8_t>& bytes) override {
        std::string& line = values[key] += name + " =";
        for (std::uint8_t byte : bytes)  // one digit where one does, as people write them
            line += (byte < 16 ? std::string(" ") : std::string(" ") + "0123456789abcdef"[byte / 16]) + "0123456789abcdef"[byte % 16];
        line += "\n";
        std::ofstream file(WindowsDirFile(platform::posix::kRegistryFile));
        for (const auto& [path, text] : values) file << "[" << path << "]\n" << text;
    }
    std::string UniqueName(const char* prefix) override { return prefix; }

    std::string dir = MakeTempDir();
    platform::posix::PosixOs os{dir + "/windows"};
    std::map<std::string, std::string> values;
};

}  // namespace

std::unique_ptr<Place> NewPlace() { return std::make_unique<PosixPlace>(); }

}  // namespace contract

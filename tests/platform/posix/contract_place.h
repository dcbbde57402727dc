// The contract test's place on Linux: a PosixOs over a private directory
// that plays the Windows directory, its registry the text file there.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/posix/posix_os.h"
#include "platform/posix/registry.h"

struct Place {
    ~Place() { std::filesystem::remove_all(dir); }
    std::string WindowsDirFile(const std::string& name) const { return dir + "/" + name; }
    static std::string UniqueName(const char* prefix) { return prefix; }
    void PutRegistryValue(const std::string& key, const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::string& line = values[key] += name + " =";
        for (std::uint8_t byte : bytes)  // one digit where one does, as people write them
            line += (byte < 16 ? std::string(" ") : std::string(" ") + "0123456789abcdef"[byte / 16]) + "0123456789abcdef"[byte % 16];
        line += "\n";
        std::ofstream file(WindowsDirFile(platform::posix::kRegistryFile));
        for (const auto& [path, text] : values) file << "[" << path << "]\n" << text;
    }

    char pattern[16] = "/tmp/kpc-XXXXXX";
    const std::string dir = ::mkdtemp(pattern) ? pattern : "";
    platform::posix::PosixOs os{dir};
    const std::string root = "SOFTWARE\\KestrelTest";  // below HKEY_LOCAL_MACHINE
    std::map<std::string, std::string> values;
};

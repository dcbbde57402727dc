#include "posix/temp_dir.h"

#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrel_test {

TempDir::TempDir() {
    char pattern[] = "/tmp/kst-XXXXXX";  // short: socket paths inside it must fit sockaddr_un
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    ::nftw(path_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return std::remove(path), 0; }, 16,
           FTW_DEPTH | FTW_PHYS);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace kestrel_test

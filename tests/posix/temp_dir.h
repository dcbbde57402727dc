// A private directory for one test, removed with everything in it at the end. Each test's own Windows
// directory: tests never meet through the shared block, the mutexes or the sockets.
#pragma once

#include <string>

namespace kestrel_test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole-file helpers for tests.
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

}  // namespace kestrel_test

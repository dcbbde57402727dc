// A private directory for one run (a Windows directory for the simulated
// system), removed with its contents at the end.
#pragma once

#include <string>

namespace kestrel_tool {

class ScratchDir {
public:
    // Throws ToolError (environment) when no directory can be made.
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Removes the directory and everything in it, as far as it can.
void RemoveTree(const std::string& path);
// Creates the directory and its parents; throws ToolError (usage) with the
// reason when it cannot.
void MakeDirectories(const std::string& path);

}  // namespace kestrel_tool

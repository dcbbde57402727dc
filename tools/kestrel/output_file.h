// Where the tool's results go: a file, or standard output for "-", and the
// checks that make a lost write an error with its reason instead of a
// silent success.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kestrel_tool {

// A file opened for writing, or standard output for "-". Close() reports
// the first failure (ToolError with the system's reason); a reader that
// closed standard output ends the run quietly (kExitClosedPipe).
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* get() const { return file_; }
    void Close();

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

// Flushes standard output at the end of a run: the exit code of the run
// when every byte got out; otherwise says why (nothing for a closed pipe)
// and returns a failure code.
int FinishStandardOutput(int code);

// Throws ToolError (usage) when two of the export paths name the same file
// (or both standard output); empty paths are no export.
void RequireDistinctOutputs(const std::vector<std::string>& paths);

}  // namespace kestrel_tool

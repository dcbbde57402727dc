// Where the tool's results go: a file, or standard output for "-", and the
// checks that make a lost write an error with its reason instead of a
// silent success.
//
// An export to a file is a measurement record: it is written to a new file
// beside the target (created, never opened through a link) and renamed
// over the target only once every byte is written, flushed and synced. A
// failed write leaves the earlier file as it was and removes only the new
// file the tool made. A target that is a device or a pipe (/dev/null, a
// FIFO) is written in place; a directory or a symbolic link is refused.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kestrel_tool {

class OutputFile {
public:
    // Throws ToolError (usage) when `path` cannot take an export.
    explicit OutputFile(const std::string& path);
    ~OutputFile();  // an export not closed leaves no trace
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* get() const { return file_; }
    // The descriptor written to (the new file, or the device); -1 for
    // standard output.
    int descriptor() const { return fd_; }
    // Puts the export in place. Throws ToolError (failed) with the system's
    // reason; a reader that closed standard output ends the run quietly
    // (kExitClosedPipe).
    void Close();

private:
    void Discard();
    int Rename();

    std::string path_;
    std::FILE* file_ = nullptr;
    int fd_ = -1;
    int error_ = 0;  // of the first write that failed
    int directory_ = -1;   // of the target, while a new file is written
    std::string name_;     // the target's name in it
    std::string temporary_;  // the new file's name; empty: written in place
    bool mayExist_ = false;  // the target was a regular file when we began
};

// Throws ToolError (usage) unless `path` can take an export: "-" when
// `standardOutput` allows it, else a directory that exists and is writable,
// and a target that is not a directory or a symbolic link. `option` names
// the export in messages ("--png").
void RequireExportPath(const std::string& option, const std::string& path, bool standardOutput);

// Flushes standard output at the end of a run: the exit code of the run
// when every byte got out; otherwise says why (nothing for a closed pipe)
// and returns a failure code.
int FinishStandardOutput(int code);

// Throws ToolError (usage) when two of the export paths name the same file
// (or both standard output); empty paths are no export.
void RequireDistinctOutputs(const std::vector<std::string>& paths);

}  // namespace kestrel_tool

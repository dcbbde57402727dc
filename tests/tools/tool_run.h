// Running the kestrel program as a user does: a process with arguments,
// its own Windows directory and working directory, its output captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "posix/temp_dir.h"

namespace kestrel_tool_test {

struct ToolRun {
    int exitCode = -1;  // 128 + signal when a signal ended it; -1: killed after the time-out
    std::string out, err;
};

struct ToolEnvironment {
    std::string windir;      // WINDIR of the process; empty: unset
    std::string workingDir;  // empty: the test's own
    std::vector<std::pair<std::string, std::string>> extra;  // further variables
};

constexpr int kToolTimeoutMs = 30000;

// Runs the program with `args`; its output goes to files in `scratch`.
// With `interruptAfter`, SIGINT goes to it once its output holds that.
ToolRun RunTool(const std::vector<std::string>& args, const ToolEnvironment& environment,
                const std::string& scratch, int timeoutMs = kToolTimeoutMs);
ToolRun RunToolInterrupted(const std::vector<std::string>& args, const ToolEnvironment& environment,
                           const std::string& scratch, const std::string& interruptAfter);

// The command line and what it did, for failure messages.
std::string Describe(const std::vector<std::string>& args, const ToolRun& run);

// A Windows directory of the test's own and runs in it; with `sim`, on the
// chain `chain_` (kStoppedChain unless the test writes another).
class ToolTest : public ::testing::Test {
protected:
    ToolTest();
    ToolRun Run(const std::vector<std::string>& args, bool sim = true);

    kestrel_test::TempDir scratch_, windir_;
    std::string chain_;
    std::string last_;  // Describe() of the last run
};

}  // namespace kestrel_tool_test

// Running the kestrel program as a user does (a process with arguments, its own Windows directory and
// working directory, its output captured), and reading back what it exported.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "posix/temp_dir.h"

namespace kestrel_tool_test {

struct ToolRun {
    int exitCode = -1;  // 128 + signal when a signal ended it; -1: killed after the time-out
    std::string out, err;
};

struct ToolEnvironment {
    std::string windir, workingDir;  // WINDIR (empty: unset) and working directory (empty: the test's)
    std::vector<std::pair<std::string, std::string>> extra;  // further variables
};

constexpr int kToolTimeoutMs = 30000;

// Runs the program with `args`; its output goes to files in `scratch`.
ToolRun RunTool(const std::vector<std::string>& args, const ToolEnvironment& environment,
                const std::string& scratch, int timeoutMs = kToolTimeoutMs);

// The command line and what it did, for failure messages.
std::string Describe(const std::vector<std::string>& args, const ToolRun& run);

// A Windows directory of the test's own and runs in it; with `sim`, on the
// chain `chain_` (kStoppedChain unless the test writes another).
class ToolTest : public ::testing::Test {
protected:
    ToolTest();
    ToolRun Run(const std::vector<std::string>& args, bool sim = true);

    kestrel_test::TempDir scratch_, windir_;
    std::string chain_, last_;  // last_: Describe() of the last run
};

// The rows a CSV export holds after its metadata, header included.
std::string CsvRows(std::uint64_t first, const std::vector<std::uint64_t>& counts);
// Whitespace-separated unsigned numbers; false when one is not.
bool ParseNumbers(const std::string& text, std::vector<std::uint64_t>* numbers);
// How the file at `path` breaks the N42.42-2011 schema (libxml2 against KESTREL_N42_SCHEMA): empty when
// it is valid, or when the schema or libxml2 is missing (said once on standard output; N42SchemaMissing()
// says which).
std::string N42SchemaErrors(const std::string& path);
std::string N42SchemaMissing();
bool HasPngSignature(const std::string& path);

}  // namespace kestrel_tool_test

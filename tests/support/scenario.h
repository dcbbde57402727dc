// The scenario runner: a chain in the simulator's configuration format, a script of operations on the
// add-in, faults and clock steps, and the transcript they give (see tests/unit/scenario_test.cpp).
#pragma once

#include <string>
#include <vector>

namespace scenario {

// Every operation under every fault at every stage: one line a cell.
struct Matrix {
    std::vector<std::string> ops, stages, faults;
};

struct Script {
    std::string head;                 // the file up to its transcript
    std::string chain;                // simulator configuration; empty: the demo chain
    std::vector<std::string> lines;   // the script; before a matrix, each cell's set-up
    std::vector<Matrix> matrices;
    std::vector<bool> protocols{true, false};  // true: the NT driver, false: the Windows 95 VxD
    bool each = false;  // one transcript per protocol ("protocol each"), for driver requests
    std::string expected, error;
};

Script Parse(const std::string& text);
std::string Run(const Script& script, bool nt);

}  // namespace scenario

// The command line: the global options and each subcommand's arguments.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel_tool {

struct GlobalOptions {
    std::string windir;     // empty: $WINDIR, else the system default
    std::string simConfig;  // serve this chain in process for the run
    bool simDemo = false;   // serve the built-in demo chain in process
    std::string addinPath;  // empty: $KESTREL_ADDIN, else beside the program
    int trace = -1;         // the add-in's trace level; -1: trace not shown
    bool progress = false;  // progress bar even when not on a terminal
    bool quiet = false;     // no reports: only the output asked for, and errors
    double timeout = 0;     // give up a wait longer than this (seconds); 0: never
};

struct DetectorArgs {
    int mcb = 0;
    int det = 0;
    // A command that changes the detector is refused on a detector locked
    // by another owner than `owner`, unless `force`.
    bool changes = false;
    std::string owner;
    bool force = false;
};

struct RawArgs {
    DetectorArgs target;
    std::string command;
};

struct ReadArgs {
    DetectorArgs target;
    long long start = 0;
    long long count = -1;  // -1: to the detector's last channel
    int view = 0;
    std::string csv;
    std::string n42;
    std::string png;
    bool json = false;     // JSON on standard output instead of CSV
    bool logScale = false;  // the plot's counts axis
    double realTime = -1;  // seconds, for an input whose real time kestrel does not know
};

struct ListArgs {
    int mcb = 0;  // 0: every MCB
    int det = 0;  // 0: every detector
    bool json = false;
};

// start, stop, clear and wait.
struct AcquireArgs {
    DetectorArgs target;
    bool clear = false;     // start: clear the spectrum first
    double seconds = -1;    // start, wait: count this long, then stop; < 0: no limit
};

struct RoiArgs {
    bool clear = false;
    DetectorArgs target;
    long long start = 0;
    long long length = 0;
    int view = 0;
};

// lock, and unlock (lock number 0).
struct LockArgs {
    DetectorArgs target;  // its owner: the new lock's; force: take over another owner's
    long long number = 0;
};

struct DescribeArgs {
    DetectorArgs target;
    std::string text;
};

struct SetIdArgs {
    DetectorArgs target;
    long long id = 0;
};

struct StartTimeArgs {
    DetectorArgs target;
    bool showOnly = false;
};

struct DemoArgs {
    std::string out = "kestrel-demo-out";
    double seconds = 1.5;  // how long the demo lets counts grow
};

}  // namespace kestrel_tool

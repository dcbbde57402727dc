// What the soak tests share on the parent's side: reading the clients'
// journals into what each stored value may be, and asking a checker
// process for what is stored.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "multiprocess/served_system.h"

namespace kestrel_test {

// What a journal says, per place: the values it may hold now. A write that
// was acknowledged replaces everything before it; a write announced but not
// acknowledged (its writer died in it) may or may not have landed.
struct Expectations {
    // (mcb, det, name) -> values
    std::map<std::tuple<int, int, std::string>, std::set<std::string>> values;
    // (mcb, det, start) -> seeds of the words
    std::map<std::tuple<int, int, std::uint32_t>, std::set<std::uint32_t>> data;
    // (mcb, det) -> "number owner" of each thread's last lock, and those in flight
    std::map<std::pair<int, int>, std::set<std::string>> locks;
    std::vector<std::string> errors;  // E lines
    std::uint64_t opened = 0;         // O lines
    std::uint64_t acknowledged = 0;   // A lines

    // Reads one journal; journals of one slot must come in incarnation order.
    void Read(const std::string& path);

private:
    // Per journal thread of writes: the lock of a (slot thread, detector).
    std::map<std::tuple<std::string, int, int>, std::set<std::string>> lockWriters_;
};

// Asks a SoakChecker in the system for every place and compares it with
// what may be there. Failures are added to the test.
struct CheckFigures {
    std::size_t values = 0, data = 0, locks = 0;
};
CheckFigures CheckStoredValues(ServedSystem& system, const Expectations& expected);

}  // namespace kestrel_test

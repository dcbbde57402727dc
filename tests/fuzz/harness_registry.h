// The harnesses linked into a program, by the name of their corpus folder,
// so that tests run each corpus through its harness without knowing which
// platform's harnesses were built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

using HarnessFunction = bool (*)(const std::uint8_t* data, std::size_t size);

struct Harness {
    std::string name;
    HarnessFunction run;
};

inline std::vector<Harness>& Harnesses() {
    static std::vector<Harness> harnesses;
    return harnesses;
}

struct Registration {
    Registration(const char* name, HarnessFunction run) { Harnesses().push_back({name, run}); }
};

}  // namespace fuzz

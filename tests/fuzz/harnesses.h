// Arbitrary bytes as a unit's replies (or as an INI file) through the real add-in code, with the rules
// every outcome must keep: nothing written past a caller's buffer, texts terminated, results in their
// ranges, the mutex released, the record sane. Shared by the libFuzzer targets and the unit tests that
// replay the corpus. Each returns false when a rule broke.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

using Harness = bool (*)(const std::uint8_t* data, std::size_t size);

// By the name of the corpus folder; the profile reader's only where the
// POSIX platform layer is built.
const std::vector<std::pair<std::string, Harness>>& Harnesses();

}  // namespace fuzz

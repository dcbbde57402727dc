// Arbitrary text as a profile (INI) file for the POSIX platform layer's
// reader: every section and key it lists must be found again, survive a
// round trip through the text, and take a new value. False on a broken rule.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

bool RunProfile(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz

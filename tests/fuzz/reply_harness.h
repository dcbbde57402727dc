// Arbitrary bytes as a unit's reply to the operation that parses it,
// through the real add-in code, with checks on what the operation hands
// back. Shared by the libFuzzer targets and the tests of the default run.
// Each returns false when an output broke a rule.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// The whole input is the reply to SHOW_VERS during a probe.
bool RunVersion(const std::uint8_t* data, std::size_t size);
// The whole input is the reply to SHOW_CONF during a probe.
bool RunConfiguration(const std::uint8_t* data, std::size_t size);
// Split at the first 0x00: the replies to SHOW_FEAT and SHOW_FEAT_EXTE.
bool RunFeatures(const std::uint8_t* data, std::size_t size);
// The whole input is the reply to SHOW_CONF_MASK.
bool RunMask(const std::uint8_t* data, std::size_t size);
// Byte 0 picks the unit kind and the detector; the rest is the reply to
// SHOW_ACTI or SHOW_ACTI_DEVI.
bool RunActivity(const std::uint8_t* data, std::size_t size);
// Split at 0x00 bytes: the replies to SHOW_DATE, SHOW_DATE_STAR, SHOW_TIME
// and SHOW_TIME_STAR.
bool RunStartTime(const std::uint8_t* data, std::size_t size);
// Byte 0 picks the value buffer size; the rest is the reply to SHOW_DATA_APP.
bool RunAppData(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz

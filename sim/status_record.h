// The %-status record that ends every exchange: '%', two 3-digit status
// fields and a 3-digit checksum, ten characters in all.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// Sum of the first seven characters, each as a signed 8-bit value, AND 255.
int StatusChecksum(std::string_view record);

// "%fffsssccc" for the two fields (each taken modulo 1000).
std::string StatusRecord(int first, int second);

}  // namespace sim

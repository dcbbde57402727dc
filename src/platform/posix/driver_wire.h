// The port-driver socket protocol. One connection is one open driver
// handle. All fields are 32-bit little-endian:
//   request: code, in_len, out_len, then in_len bytes of input;
//   reply:   ok (1 performed, 0 refused), returned (at most out_len), then
//            that many bytes of output.
// Shared by the client in this layer and by the services that answer it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {
namespace posix {

constexpr std::size_t kRequestHeaderBytes = 12;
constexpr std::size_t kReplyHeaderBytes = 8;
// The most a request carries in or out: a whole spectrum of 65535
// channels of 4 bytes, the largest transfer of either driver protocol. A
// service refuses a longer request, and closes the connection, rather than
// buffer it.
constexpr std::uint32_t kMaxTransferBytes = 1u << 18;

inline void PutLE32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

inline std::uint32_t GetLE32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace posix
}  // namespace platform

// The port-driver socket protocol. One connection is one open driver
// handle. All fields are 32-bit little-endian:
//   request: code, in_len, out_len, then in_len bytes of input;
//   reply:   ok (1 performed, 0 refused), returned (at most out_len), then
//            that many bytes of output.
// Shared by the client in this layer and by the services that answer it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/le32.h"

namespace platform {
namespace posix {

constexpr std::size_t kRequestHeaderBytes = 12;
constexpr std::size_t kReplyHeaderBytes = 8;
// The most a request carries in or out: a whole spectrum of 65535
// channels of 4 bytes, the largest transfer of either driver protocol. A
// service refuses a longer request, and closes the connection, rather than
// buffer it.
constexpr std::uint32_t kMaxTransferBytes = 1u << 18;

// The fields, for the services that answer.
using ::GetLE32;
using ::PutLE32;

}  // namespace posix
}  // namespace platform

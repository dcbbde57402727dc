#include "portd/connection.h"

#include <algorithm>

#include "platform/posix/driver_wire.h"

namespace portd {

using platform::posix::GetLE32;
using platform::posix::kMaxTransferBytes;
using platform::posix::kReplyHeaderBytes;
using platform::posix::kRequestHeaderBytes;
using platform::posix::PutLE32;

namespace {

// Buffers that held a large transfer are given back once it is done, so
// that an idle connection stays small.
constexpr std::size_t kKeptCapacity = 4096;

void Drop(std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (bytes.capacity() > kKeptCapacity) bytes.shrink_to_fit();
}

}  // namespace

Connection::Connection(sim::Chain& chain, uid_t uid) : driver_(chain), uid_(uid) {
    // Clients on Linux speak the NT protocol; the Windows 95 one carries
    // addresses of the caller's memory, which cannot cross a socket.
    driver_.protocol = sim::EmulatedDriver::Protocol::Nt;
}

// The whole request: its header, then the input the header announces.
std::size_t Connection::Wanted() const {
    if (in_.size() < kRequestHeaderBytes) return kRequestHeaderBytes;
    return kRequestHeaderBytes + GetLE32(&in_[4]);
}

std::size_t Connection::Room() const { return out_.empty() ? Wanted() - in_.size() : 0; }

bool Connection::Receive(const std::uint8_t* data, std::size_t length, Clock::time_point now) {
    if (length == 0) return true;
    if (in_.empty()) begun_ = now;
    in_.insert(in_.end(), data, data + std::min(length, Room()));
    if (in_.size() != kRequestHeaderBytes) return true;
    // The header is complete: no request of either driver protocol
    // transfers more than that, in or out.
    return GetLE32(&in_[4]) <= kMaxTransferBytes && GetLE32(&in_[8]) <= kMaxTransferBytes;
}

bool Connection::PerformNext() {
    if (!out_.empty() || in_.size() < kRequestHeaderBytes || in_.size() != Wanted()) return false;
    const std::uint32_t code = GetLE32(&in_[0]);
    const std::uint32_t inLen = GetLE32(&in_[4]);
    const std::uint32_t outLen = GetLE32(&in_[8]);
    const std::uint8_t* input = inLen ? &in_[kRequestHeaderBytes] : nullptr;
    if (onRequest) onRequest(code, input, inLen);
    out_.resize(kReplyHeaderBytes + outLen);
    std::uint32_t returned = 0;
    bool ok = driver_.ioctl(code, input, inLen, outLen ? &out_[kReplyHeaderBytes] : nullptr, outLen, &returned);
    returned = ok ? std::min(returned, outLen) : 0;
    PutLE32(&out_[0], ok ? 1 : 0);
    PutLE32(&out_[4], returned);
    out_.resize(kReplyHeaderBytes + returned);
    Drop(in_);
    begun_.reset();
    return true;
}

void Connection::Sent(std::size_t length) {
    if (length >= out_.size()) {
        Drop(out_);
        return;
    }
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace portd

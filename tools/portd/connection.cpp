#include "portd/connection.h"

#include <algorithm>

#include "platform/posix/driver_wire.h"

namespace portd {

using platform::posix::GetLE32;
using platform::posix::kMaxTransferBytes;
using platform::posix::kReplyHeaderBytes;
using platform::posix::kRequestHeaderBytes;
using platform::posix::PutLE32;

Connection::Connection(sim::Chain& chain) : driver_(chain) {
    // Clients on Linux speak the NT protocol; the Windows 95 one carries
    // addresses of the caller's memory, which cannot cross a socket.
    driver_.protocol = sim::EmulatedDriver::Protocol::Nt;
}

void Connection::Receive(const std::uint8_t* data, std::size_t length) {
    if (skip_ > 0) {
        std::size_t skipped = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, length));
        skip_ -= skipped;
        data += skipped;
        length -= skipped;
    }
    in_.insert(in_.end(), data, data + length);
}

bool Connection::PerformNext() {
    if (!out_.empty()) return false;
    if (refusalOwed_) {
        if (skip_ > 0) return false;
        refusalOwed_ = false;
        Reply(false, nullptr, 0);
        return true;
    }
    if (in_.size() < kRequestHeaderBytes) return false;
    std::uint32_t code = GetLE32(&in_[0]);
    std::uint32_t inLen = GetLE32(&in_[4]);
    std::uint32_t outLen = GetLE32(&in_[8]);
    if (inLen > kMaxTransferBytes || outLen > kMaxTransferBytes) {
        // Refused without holding its input: what is here is dropped, the
        // rest is skipped as it comes, then the refusal goes out.
        ++malformed_;
        std::size_t here = std::min<std::size_t>(in_.size() - kRequestHeaderBytes, inLen);
        skip_ = inLen - here;
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(kRequestHeaderBytes + here));
        refusalOwed_ = true;
        return PerformNext();
    }
    if (in_.size() < kRequestHeaderBytes + inLen) return false;
    if (onRequest) onRequest(code, inLen ? &in_[kRequestHeaderBytes] : nullptr, inLen);
    std::vector<std::uint8_t> output(outLen);
    std::uint32_t returned = 0;
    bool ok = driver_.Ioctl(code, inLen ? &in_[kRequestHeaderBytes] : nullptr, inLen,
                            outLen ? output.data() : nullptr, outLen, &returned);
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(kRequestHeaderBytes + inLen));
    Reply(ok, output.data(), ok ? std::min(returned, outLen) : 0);
    return true;
}

void Connection::Reply(bool ok, const std::uint8_t* output, std::uint32_t length) {
    std::uint8_t header[kReplyHeaderBytes];
    PutLE32(&header[0], ok ? 1 : 0);
    PutLE32(&header[4], length);
    out_.insert(out_.end(), header, header + sizeof header);
    if (length != 0) out_.insert(out_.end(), output, output + length);
}

void Connection::Sent(std::size_t length) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(std::min(length, out_.size())));
}

}  // namespace portd

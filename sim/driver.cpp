#include "sim/driver.h"

#include "common/le32.h"
#include "sim/chain.h"

namespace sim {

namespace {

constexpr std::uint32_t kMaxUnitByte = 15;

std::uint32_t Word(const std::uint8_t* bytes, int index) { return GetLE32(bytes + 4 * index); }

bool IsNt(std::uint32_t code) {
    return code == kNtSetPort || code == kNtSetAddress || code == kNtRead || code == kNtWrite;
}

bool IsWin95(std::uint32_t code) { return code == kW95SetLpt || code == kW95Read || code == kW95Write; }

}  // namespace

EmulatedDriver::EmulatedDriver(Chain& chain) : chain_(chain) {}

bool EmulatedDriver::ioctl(std::uint32_t code, const void* in, std::uint32_t inLen, void* out,
                           std::uint32_t outLen, std::uint32_t* returned) {
    if (returned) *returned = 0;
    bool ok = false;
    try {
        const auto* input = static_cast<const std::uint8_t*>(in);
        bool injected = failAll;
        if (failAfter_ > 0) {
            --failAfter_;
        } else if (failNext_ > 0) {
            --failNext_;
            injected = true;
        }
        bool spoken = protocol == Protocol::Both || (protocol == Protocol::Nt ? IsNt(code) : IsWin95(code));
        std::uint32_t done = 0;
        bool buffersValid = (inLen == 0 || input) && (outLen == 0 || out);
        ok = !injected && spoken && buffersValid &&
             perform(code, input, inLen, static_cast<std::uint8_t*>(out), outLen, &done);
        if (ok && returned) *returned = done;
    } catch (...) {
        ok = false;  // nothing leaves a DeviceIoControl but its result
    }
    if (!ok) ++refused_;
    return ok;
}

bool EmulatedDriver::perform(std::uint32_t code, const std::uint8_t* in, std::uint32_t inLen, std::uint8_t* out,
                             std::uint32_t outLen, std::uint32_t* returned) {
    switch (code) {
        case kNtSetPort:
            if (inLen != 4 || outLen != 4) return false;
            portAddress_ = Word(in, 0);
            PutLE32(out, portAddress_);
            *returned = 4;
            return true;
        case kNtSetAddress: return ntSetAddress(in, inLen, outLen);
        case kNtRead: return ntRead(inLen, out, outLen, returned);
        case kNtWrite: return ntWrite(in, inLen, outLen);
        case kW95SetLpt:
            if (inLen != 4 || outLen != 4) return false;
            lpt_ = Word(in, 0);
            PutLE32(out, static_cast<std::uint32_t>(lptAnswer));
            *returned = 4;
            return true;
        case kW95Read: return w95Read(in, inLen, out, outLen, returned);
        case kW95Write: return w95Write(in, inLen, outLen);
        default: return false;
    }
}

// Input: reserved, unit byte, address, length. No output.
bool EmulatedDriver::ntSetAddress(const std::uint8_t* in, std::uint32_t inLen, std::uint32_t outLen) {
    if (inLen != 16 || outLen != 0) return false;
    if (Word(in, 1) > kMaxUnitByte) return false;
    unit_ = Word(in, 1);
    address_ = Word(in, 2);
    length_ = Word(in, 3);
    haveAddress_ = true;
    return true;
}

// One set-address serves one transfer of exactly its length.
bool EmulatedDriver::ntRead(std::uint32_t inLen, std::uint8_t* out, std::uint32_t outLen, std::uint32_t* returned) {
    if (!haveAddress_ || inLen != 0 || outLen != length_) return false;
    chain_.read(unit_, address_, out, length_);
    haveAddress_ = false;
    *returned = length_;
    return true;
}

bool EmulatedDriver::ntWrite(const std::uint8_t* in, std::uint32_t inLen, std::uint32_t outLen) {
    if (!haveAddress_ || inLen != length_ || outLen != 0) return false;
    chain_.write(unit_, address_, in, length_);
    haveAddress_ = false;
    return true;
}

// Input: unit byte, address, chunk length 1..1024. The output buffer may be
// larger than the chunk (the caller passes what is left of its buffer).
bool EmulatedDriver::w95Read(const std::uint8_t* in, std::uint32_t inLen, std::uint8_t* out, std::uint32_t outLen,
                             std::uint32_t* returned) {
    if (inLen != 12) return false;
    std::uint32_t unit = Word(in, 0), address = Word(in, 1), chunk = Word(in, 2);
    if (unit > kMaxUnitByte || chunk == 0 || chunk > kW95MaxChunk || outLen < chunk) return false;
    chain_.read(unit, address, out, chunk);
    *returned = chunk;
    return true;
}

// Input: unit byte, address, length, flat address of the bytes, reserved.
bool EmulatedDriver::w95Write(const std::uint8_t* in, std::uint32_t inLen, std::uint32_t outLen) {
    if (inLen != 20 || outLen != 0) return false;
    std::uint32_t unit = Word(in, 0), address = Word(in, 1), length = Word(in, 2), flat = Word(in, 3);
    if (unit > kMaxUnitByte) return false;
    if (length == 0) return true;
    const std::uint8_t* bytes = resolveFlat ? resolveFlat(flat, length) : nullptr;
    if (!bytes) return false;
    chain_.write(unit, address, bytes, length);
    return true;
}

}  // namespace sim

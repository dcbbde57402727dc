// The emulated printer-port driver: decodes the exact request buffers of
// both driver protocols and performs them on a simulated chain of MCBs.
// One EmulatedDriver is one open driver handle (the Windows NT protocol's
// set-address request applies to that handle's next read or write); any
// number of them may share one Chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sim {

class Chain;

// Control codes of the two driver protocols.
constexpr std::uint32_t kNtSetPort = 0x9C402400;
constexpr std::uint32_t kNtSetAddress = 0x9C402404;
constexpr std::uint32_t kNtRead = 0x9C402443;
constexpr std::uint32_t kNtWrite = 0x9C40240B;
constexpr std::uint32_t kW95SetLpt = 1;
constexpr std::uint32_t kW95Read = 2;
constexpr std::uint32_t kW95Write = 3;

constexpr std::uint32_t kW95MaxChunk = 1024;

class EmulatedDriver {
public:
    explicit EmulatedDriver(Chain& chain);

    // One DeviceIoControl request. False when the driver refuses it
    // (unknown code, wrong buffer sizes, a unit byte above 15, a Windows 95
    // chunk above 1024 bytes, ...); a refused request changes nothing.
    // *returned (when given) receives the bytes of output, 0 on refusal.
    bool ioctl(std::uint32_t code, const void* in, std::uint32_t inLen, void* out,
               std::uint32_t outLen, std::uint32_t* returned);

    // Resolves the flat address carried by a Windows 95 write request to the
    // caller's bytes (null: refuse). Set by whoever hands out the addresses.
    std::function<const std::uint8_t*(std::uint32_t flat, std::uint32_t length)> resolveFlat;

    // What the result word of the Windows 95 "take LPT port" request
    // (code 1) answers: the port address, or 0, -3, -1 for the refusals.
    std::int32_t lptAnswer = 0x378;

    // Which protocol this driver speaks; the other one's codes are unknown.
    enum class Protocol { Both, Nt, Win95 };
    Protocol protocol = Protocol::Both;

    // Fault injection: refuse `count` requests after letting the next
    // `after` pass (so one request in the middle of an exchange can fail),
    // or every request.
    void failNext(std::uint32_t count = 1, std::uint32_t after = 0) {
        failNext_ = count;
        failAfter_ = after;
    }
    bool failAll = false;

    // Requests refused. Nothing else is counted or kept per request: a
    // driver of the service lives as long as a client's connection, and
    // whatever a client sends must not grow it.
    std::uint64_t refused() const { return refused_; }

    // What the port requests told the driver: the Windows NT port address
    // (code 0x9C402400) and the Windows 95 LPT number (code 1); 0 until told.
    std::uint32_t portAddress() const { return portAddress_; }
    std::uint32_t lptRequested() const { return lpt_; }

private:
    bool perform(std::uint32_t code, const std::uint8_t* in, std::uint32_t inLen, std::uint8_t* out,
                 std::uint32_t outLen, std::uint32_t* returned);
    bool ntSetAddress(const std::uint8_t* in, std::uint32_t inLen, std::uint32_t outLen);
    bool ntRead(std::uint32_t inLen, std::uint8_t* out, std::uint32_t outLen, std::uint32_t* returned);
    bool ntWrite(const std::uint8_t* in, std::uint32_t inLen, std::uint32_t outLen);
    bool w95Read(const std::uint8_t* in, std::uint32_t inLen, std::uint8_t* out, std::uint32_t outLen,
                 std::uint32_t* returned);
    bool w95Write(const std::uint8_t* in, std::uint32_t inLen, std::uint32_t outLen);

    Chain& chain_;
    std::uint64_t refused_ = 0;
    std::uint32_t failNext_ = 0;
    std::uint32_t failAfter_ = 0;
    std::uint32_t portAddress_ = 0;
    std::uint32_t lpt_ = 0;
    // State of the Windows NT protocol: the last set-address request.
    bool haveAddress_ = false;
    std::uint32_t unit_ = 0, address_ = 0, length_ = 0;
};

}  // namespace sim

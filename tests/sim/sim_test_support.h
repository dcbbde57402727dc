// Test-side access to the simulated chain: a fake clock and the raw driver
// requests a host would send, plus a minimal mailbox client built on them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/chain.h"
#include "sim/driver.h"

namespace simtest {

struct FakeClock {
    std::uint32_t ms = 0;
    sim::Clock clock() {
        return [this] { return ms; };
    }
};

inline std::vector<std::uint8_t> Words(std::initializer_list<std::uint32_t> words) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return bytes;
}

inline std::uint32_t UnitByte(int mcb, bool mailbox) { return (mailbox ? 8u : 0u) | ((mcb - 1) & 7u); }

inline bool NtSetAddress(sim::EmulatedDriver& d, std::uint32_t unit, std::uint32_t address, std::uint32_t length) {
    auto in = Words({0, unit, address, length});
    return d.Ioctl(sim::kNtSetAddress, in.data(), 16, nullptr, 0, nullptr);
}

inline bool NtRead(sim::EmulatedDriver& d, std::uint32_t unit, std::uint32_t address, std::uint8_t* out,
                   std::uint32_t length) {
    return NtSetAddress(d, unit, address, length) && d.Ioctl(sim::kNtRead, nullptr, 0, out, length, nullptr);
}

inline bool NtWrite(sim::EmulatedDriver& d, std::uint32_t unit, std::uint32_t address, const std::uint8_t* data,
                    std::uint32_t length) {
    return NtSetAddress(d, unit, address, length) && d.Ioctl(sim::kNtWrite, data, length, nullptr, 0, nullptr);
}

// A host's view of one MCB's mailbox, one byte per request as the add-in
// does it, on the Windows NT protocol.
class MailboxClient {
public:
    MailboxClient(sim::EmulatedDriver& driver, FakeClock& clock, int mcb, int type)
        : driver_(driver), clock_(clock), mcb_(mcb), type_(type) {}

    std::uint32_t address(int offset) const {
        return type_ == 5 ? 2u * offset : 4u * offset + 3;
    }
    std::uint8_t read(int offset) {
        std::uint8_t b = 0;
        NtRead(driver_, UnitByte(mcb_, true), address(offset), &b, 1);
        return b;
    }
    void write(int offset, std::uint8_t value) { NtWrite(driver_, UnitByte(mcb_, true), address(offset), &value, 1); }

    void post(const std::string& command) {
        write(sim::kCommandLength, static_cast<std::uint8_t>(command.size()));
        write(sim::kCommandLength + 1, static_cast<std::uint8_t>(command.size() >> 8));
        for (std::size_t i = 0; i < command.size(); ++i)
            write(sim::kCommandText + static_cast<int>(i), static_cast<std::uint8_t>(command[i]));
        write(sim::kOutFlag, 0xFF);
    }

    // Waits (on the fake clock, 1 ms per poll) for a message, reads and
    // acknowledges it. False when none comes within `limitMs`.
    bool next(std::string* message, std::uint32_t limitMs = 20000) {
        for (std::uint32_t waited = 0; read(sim::kInFlag) != 0xFF; ++waited) {
            if (waited >= limitMs) return false;
            ++clock_.ms;
        }
        int length = read(sim::kMessageLength) | (read(sim::kMessageLength + 1) << 8);
        message->clear();
        for (int i = 0; i < length; ++i) message->push_back(static_cast<char>(read(sim::kMessageText + i)));
        write(sim::kInFlag, 0);
        return true;
    }

    // Posts a command and collects every message up to and including the
    // first one that starts with '%' (or until none comes).
    std::vector<std::string> exchange(const std::string& command, std::uint32_t limitMs = 20000) {
        post(command);
        std::vector<std::string> messages;
        std::string message;
        while (messages.size() < 30 && next(&message, limitMs)) {
            messages.push_back(message);
            if (!message.empty() && message[0] == '%') break;
        }
        return messages;
    }

private:
    sim::EmulatedDriver& driver_;
    FakeClock& clock_;
    int mcb_;
    int type_;
};

}  // namespace simtest

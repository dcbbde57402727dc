// One simulated MCB on the printer-port chain: its mailbox space and data
// space as the port reaches them, and the MCB's side of the mailbox
// handshake. A unit does nothing by itself; every access brings it up to
// the current time first (takes a waiting command, posts the next message,
// counts into spectra), so a fake clock drives it completely.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/unit_config.h"
#include "sim/unit_state.h"

namespace sim {

// Mailbox offsets.
constexpr int kOutFlag = 0;      // MCB$OUTFLG: 0xFF = a command waits for the unit
constexpr int kScratch1 = 1;
constexpr int kScratch2 = 2;
constexpr int kCommandLength = 14;
constexpr int kCommandText = 16;
constexpr int kCommandMax = 480;
constexpr int kInFlag = 496;     // MCB$INFLG: 0xFF = a message waits for the add-in
constexpr int kMessageLength = 510;
constexpr int kMessageText = 512;
constexpr int kMailboxSize = 4096;
constexpr std::uint8_t kFull = 0xFF;

struct ReceivedCommand {
    std::string text;  // empty for the zero-length command
    bool zeroLength = false;
};

class Unit {
public:
    Unit(const UnitConfig& config, Instant now);

    int mailboxType() const { return state_.config().mailboxType; }

    // Bytes of the mailbox space (mailbox true) or data space at device
    // byte addresses. Addresses where nothing answers read 0xFF.
    void read(bool mailbox, std::uint32_t address, std::uint8_t* out, std::uint32_t length, Instant now);
    void write(bool mailbox, std::uint32_t address, const std::uint8_t* data, std::uint32_t length, Instant now);
    void advance(Instant now);

    Faults faults;

    UnitState& state() { return state_; }
    const UnitState& state() const { return state_; }
    void setMailboxByte(int offset, std::uint8_t value) { mailbox_[offset] = value; }

    // What the unit took, in order, while `keepLog` is set (it is by
    // default; a service that runs for months turns it off, or every
    // command would stay in memory).
    const std::vector<ReceivedCommand>& received() const { return received_; }
    void clearLogs();
    bool keepLog = true;

private:
    bool mailboxOffset(std::uint32_t address, int* offset) const;
    std::uint8_t readByte(bool mailbox, std::uint32_t address);
    void writeByte(bool mailbox, std::uint32_t address, std::uint8_t value, Instant now);
    void take(Instant now);
    void post(const std::string& message);

    UnitState state_;
    std::vector<std::uint8_t> mailbox_;
    std::deque<std::string> queue_;  // messages of the current exchange not yet posted
    std::uint32_t commandSetMs_ = 0;  // when MCB$OUTFLG was last set to 0xFF
    std::uint32_t readyMs_ = 0;       // when the unit could post its next message
    bool awaitingAck_ = false;
    std::vector<ReceivedCommand> received_;
};

}  // namespace sim

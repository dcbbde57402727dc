#include "sim/unit.h"

#include <algorithm>

#include "sim/commands.h"

namespace sim {

namespace {

// Bytes of the data space of a type-4 unit that show the mailbox's
// scratch bytes (offsets 1 and 2 at 4k+3): the mailbox-type test relies
// on seeing them from both spaces.
constexpr std::uint32_t kAliasScratch1 = 7;
constexpr std::uint32_t kAliasScratch2 = 11;

}  // namespace

Unit::Unit(const UnitConfig& config, Instant now)
    : state_(config, now), mailbox_(kMailboxSize, 0), commandSetMs_(now.ms), readyMs_(now.ms) {}

bool Unit::mailboxOffset(std::uint32_t address, int* offset) const {
    std::uint32_t k;
    if (mailboxType() == 5) {
        if (address % 2 != 0) return false;
        k = address / 2;
    } else {
        if (address % 4 != 3) return false;
        k = address / 4;
    }
    if (k >= kMailboxSize) return false;
    *offset = static_cast<int>(k);
    return true;
}

std::uint8_t Unit::readByte(bool mailbox, std::uint32_t address) {
    int offset = 0;
    if (mailbox) return mailboxOffset(address, &offset) ? mailbox_[offset] : kFull;
    if (mailboxType() == 4 && address == kAliasScratch1) return mailbox_[kScratch1];
    if (mailboxType() == 4 && address == kAliasScratch2) return mailbox_[kScratch2];
    const std::vector<std::uint32_t>& words = state_.dataSpace();
    std::uint32_t index = address / 4;
    if (index >= words.size()) return kFull;
    return static_cast<std::uint8_t>(words[index] >> (8 * (address % 4)));
}

void Unit::writeByte(bool mailbox, std::uint32_t address, std::uint8_t value, Instant now) {
    int offset = 0;
    if (!mailbox) {
        if (mailboxType() == 4 && address == kAliasScratch1) {
            mailbox_[kScratch1] = value;
        } else if (mailboxType() == 4 && address == kAliasScratch2) {
            mailbox_[kScratch2] = value;
        } else {
            std::vector<std::uint32_t>& words = state_.dataSpace();
            std::uint32_t index = address / 4;
            if (index >= words.size()) return;
            std::uint32_t shift = 8 * (address % 4);
            words[index] = (words[index] & ~(0xFFu << shift)) | (static_cast<std::uint32_t>(value) << shift);
        }
        return;
    }
    if (!mailboxOffset(address, &offset)) return;
    const bool wasFull = mailbox_[offset] == kFull;
    mailbox_[offset] = value;
    if (offset == kOutFlag && value == kFull) commandSetMs_ = now.ms;
    // The add-in emptied MCB$INFLG: the next message may follow.
    if (offset == kInFlag && value != kFull && wasFull && awaitingAck_) {
        awaitingAck_ = false;
        readyMs_ = now.ms;
    }
    // The add-in is writing a new command: what is left of the old
    // exchange will never be read.
    if (offset >= kCommandLength && offset < kCommandText + kCommandMax) queue_.clear();
}

void Unit::read(bool mailbox, std::uint32_t address, std::uint8_t* out, std::uint32_t length, Instant now) {
    advance(now);
    if (!mailbox) state_.settle();
    for (std::uint32_t i = 0; i < length; ++i) out[i] = readByte(mailbox, address + i);
}

void Unit::write(bool mailbox, std::uint32_t address, const std::uint8_t* data, std::uint32_t length,
                 Instant now) {
    advance(now);
    if (!mailbox) state_.settle();
    for (std::uint32_t i = 0; i < length; ++i) writeByte(mailbox, address + i, data[i], now);
}

void Unit::advance(Instant now) {
    state_.advance(now);
    if (mailbox_[kOutFlag] == kFull) {
        const bool zeroLength = (mailbox_[kCommandLength] | mailbox_[kCommandLength + 1]) == 0;
        if (zeroLength ? faults.takeZeroLength
                       : faults.takeDelayMs && now.ms - commandSetMs_ >= *faults.takeDelayMs) {
            Instant at = now;
            if (!zeroLength) at.ms = commandSetMs_ + *faults.takeDelayMs;
            take(at);
        }
    }
    if (!queue_.empty() && mailbox_[kInFlag] != kFull && faults.postDelayMs &&
        now.ms - readyMs_ >= *faults.postDelayMs) {
        post(queue_.front());
        queue_.pop_front();
    }
}

void Unit::take(Instant now) {
    mailbox_[kOutFlag] = 0;
    queue_.clear();
    readyMs_ = now.ms;
    awaitingAck_ = false;
    const std::size_t length = mailbox_[kCommandLength] | (mailbox_[kCommandLength + 1] << 8);
    if (length == 0) {
        if (keepLog) received_.push_back({std::string(), true});
        return;
    }
    std::string text;
    for (std::size_t i = 0; i < std::min<std::size_t>(length, kCommandMax); ++i)
        text.push_back(static_cast<char>(mailbox_[kCommandText + i]));
    if (keepLog) received_.push_back({text, false});

    Reply reply;
    if (length > kCommandMax) {
        reply.first = kStatusBadArgument;  // the text ran past the command area
    } else if (auto refusal = faults.refusalFor(text)) {
        reply.first = refusal->first;
        reply.second = refusal->second;
    } else if (const std::vector<std::string>* texts = faults.replyFor(text)) {
        reply.texts = *texts;
    } else {
        reply = Execute(state_, text, now);
    }
    for (std::string& message : faults.messages(reply)) queue_.push_back(std::move(message));
}

void Unit::post(const std::string& message) {
    const std::size_t length = message.size();
    mailbox_[kMessageLength] = static_cast<std::uint8_t>(length);
    mailbox_[kMessageLength + 1] = static_cast<std::uint8_t>(length >> 8);
    for (std::size_t i = 0; i < length && kMessageText + i < mailbox_.size(); ++i)
        mailbox_[kMessageText + i] = static_cast<std::uint8_t>(message[i]);
    mailbox_[kInFlag] = kFull;
    awaitingAck_ = true;
}

void Unit::clearLogs() { received_.clear(); }

}  // namespace sim

// Ways a simulated MCB can misbehave, set per unit at run time. Counts
// named "next" are used up one by one; the others hold until changed.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/commands.h"

namespace sim {

struct Faults {
    // A posted command is taken this long after MCB$OUTFLG was set; none:
    // never. Zero-length commands are taken at once when takeZeroLength.
    std::optional<std::uint32_t> takeDelayMs = 0;
    bool takeZeroLength = true;
    // Each message is posted this long after the command was taken or the
    // previous message acknowledged; none: nothing is ever posted.
    std::optional<std::uint32_t> postDelayMs = 0;

    int garbageMessages = 0;  // per exchange, before the response
    int extraLines = 0;       // per exchange, after the response, before the record
    int badChecksumNext = 0;  // the next K records carry a wrong checksum
    int badThenGoodNext = 0;  // the next K exchanges post a bad record before the good one
    // The next exchanges post exactly these messages, whatever the command.
    std::deque<std::vector<std::string>> scripted;
    int wrongLengthNext = 0;  // the next K records are wrongLength characters long
    std::size_t wrongLength = 13;
    int floodNext = 0;        // the next K exchanges post floodMessages lines and no record
    int floodMessages = 11;
    int tooLongNext = 0;      // the next K responses are padded to tooLongLength
    std::size_t tooLongLength = 600;

    // Commands refused with these status fields, by keyword as written
    // (up to the first blank) or by the whole command text; any case.
    std::map<std::string, std::pair<int, int>> refusals;
    void refuse(const std::string& command, int first, int second = 0) { refusals[command] = {first, second}; }

    // Commands answered with exactly these response texts and a good
    // record instead of the unit's own reply (the command is not carried
    // out); keyed as refusals are. Refusals come first.
    std::map<std::string, std::vector<std::string>> replies;
    void reply(const std::string& command, std::vector<std::string> texts) { replies[command] = std::move(texts); }

    // The refusal that applies to a command, if any.
    std::optional<std::pair<int, int>> refusalFor(const std::string& command) const;
    // The reply that replaces the unit's own for a command, if any.
    const std::vector<std::string>* replyFor(const std::string& command) const;
    // The messages of one exchange: the reply as these faults change it.
    std::vector<std::string> messages(const Reply& reply);
};

}  // namespace sim

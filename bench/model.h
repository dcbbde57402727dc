// The driver requests and 1 ms pauses that the add-in's algorithms imply
// for an operation, worked out from the mailbox handshake alone: no add-in
// or simulator code is called, only the description of the chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "bench/scenarios.h"

namespace bench {
namespace model {

// Requests in each driver protocol and pauses of one operation.
struct Cost {
    std::uint64_t nt = 0;
    std::uint64_t win95 = 0;
    std::uint64_t pauses = 0;

    // Mailbox bytes, one transfer of one byte each.
    void MailboxBytes(std::uint64_t count);
    void Read(std::uint32_t bytes);
    void Write(std::uint32_t bytes);
    // Requests that are the same in both protocols (opening the port).
    void Requests(std::uint64_t count);
    std::uint64_t For(Protocol protocol) const { return protocol == Protocol::Nt ? nt : win95; }
    Cost& operator+=(const Cost& other);
};

// flush_output on a mailbox whose last command was taken.
Cost FlushIdle();
// Length word, text, MCB$OUTFLG.
Cost Post(std::size_t commandLength);
// One exchange. `respSize` as handed to mcb_dialog (0: no text wanted);
// `response`: the length of the text the unit answers with before its
// status record, none when the record comes alone.
Cost Exchange(std::size_t commandLength, int respSize, std::optional<std::size_t> response);
// The zero-length command: posted, then waited for until taken.
Cost ZeroLength();

// The whole operation on that chain.
Cost Operation(Op op, const ChainLayout& chain);

}  // namespace model
}  // namespace bench

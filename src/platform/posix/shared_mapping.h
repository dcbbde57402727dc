// A file mapped shared by every process that opens it, fresh (zero-filled,
// then initialised) whenever no other process has it open, also after the
// process that had it crashed.
//
// Who is first is decided by locks that the kernel drops when their holder
// dies, never by anything written in the file:
//   - every process that holds the mapping keeps a shared flock on the
//     mapped file for as long as it holds it;
//   - an opener takes an exclusive flock on a side file, "<name>.init", for
//     the whole decision, so openers decide one at a time;
//   - inside that, an exclusive non-blocking flock on the mapped file that
//     succeeds means nobody holds the mapping: this opener is first, clears
//     the file (truncate to 0, then to size), runs the initialiser, and then
//     turns its lock into a shared one. Failing means others hold it: take
//     the shared lock and use what they use.
// flock's conversion from exclusive to shared is not atomic, but no other
// opener can slip in: they all wait on the side file. A first opener killed
// while initialising drops both locks; the next opener is first again and
// starts over on a clean file, so nobody ever maps a half-built block.
//
// Every member of the directory's group can write the file, so what it
// holds is checked, not trusted. A header before the block names what the
// file holds (a magic number), the layout of the block and its size. A
// later opener that finds the file short, without the header, or holding
// implausible values rebuilds it (zero-filled and initialised, as a first
// opener would) under the side file's lock; one of another layout is in
// use by another version of the add-in and is refused. The size is checked
// before anything is mapped. Then, at each acquisition of the mutex that
// guards the block, Repair checks it again: a file cut short under the
// mapping (whose pages would otherwise raise SIGBUS at the next access) is
// grown back and mapped again, a changed header or implausible contents
// rebuilt: from the copy this process kept when it last released that
// mutex (see Remember), so that the units' records survive, or else
// zero-filled and initialised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/files.h"

namespace platform {
namespace posix {

// Test hook: called with the mapped file's name and a step name at each
// step of Open ("gate locked", "first", "cleared", "mapped", "initialised",
// "second", "shared"), so a test can stop or end an opener at any of them.
// Null (the default): no hook.
using SharedMappingStepHook = void (*)(const char* name, const char* step);
void SetSharedMappingStepHook(SharedMappingStepHook hook);

// What a mapped file holds: a magic number for the kind of block, the
// layout version of that kind, and the block's size in bytes.
// Where the block starts in the file, after the header.
constexpr std::size_t kBlockOffset = 16;

struct BlockLayout {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t size;
};

class SharedMapping {
public:
    // Runs on the zero-filled block, in the first opener while every other
    // opener waits, or in whoever rebuilds it. False: the block is unusable.
    using Initialiser = std::function<bool(void* block)>;
    // Whether the values in a block could have been written by the add-in.
    using Plausible = std::function<bool(const void* block)>;

    // Maps the block of the file `name` in the directory `dir` (created
    // when missing), `shown` naming it in messages. Null on failure, with
    // errno set and the reason in *why.
    static std::unique_ptr<SharedMapping> Open(int dir, const std::string& name, const std::string& shown,
                                               const BlockLayout& layout, const Initialiser& initialise,
                                               const Plausible& plausible, std::string* why);

    SharedMapping(const SharedMapping&) = delete;
    SharedMapping& operator=(const SharedMapping&) = delete;
    // Unmaps the block and drops the shared lock.
    ~SharedMapping();

    void* block() const;
    std::size_t size() const { return layout_.size; }
    // True when this opener found nobody else holding the block.
    bool first() const { return first_; }

    // Checks that the block is still whole, and rebuilds it when not,
    // saying so on the debug output. The caller holds the mutex that
    // guards the block (or, for a mutex's own block, is about to take it).
    // True when it had to rebuild. Nothing is thrown: this runs inside the
    // mutex's wait, which no exception may leave.
    bool Repair() noexcept;
    // Keeps a copy of the block as it is, when it is whole, for Repair to
    // rebuild from. The caller holds the mutex that guards the block and is
    // about to release it.
    void Remember() noexcept;

private:
    SharedMapping(UniqueFd gate, UniqueFd fd, void* mapped, const BlockLayout& layout, bool first,
                  std::string shown, Initialiser initialise, Plausible plausible);
    // What is wrong with the header or the contents; empty when nothing.
    std::string Fault() const;
    bool Build(bool fromCopy);
    bool RepairLocked(bool faulted, bool cut);

    UniqueFd gate_;
    UniqueFd fd_;
    void* mapped_;
    BlockLayout layout_;
    bool first_;
    std::string shown_;
    Initialiser initialise_;
    Plausible plausible_;
    int guard_;  // this mapping's slot in the SIGBUS guard
    std::mutex copyLock_;
    std::vector<unsigned char> copy_;
};

}  // namespace posix
}  // namespace platform

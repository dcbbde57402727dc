// A file mapped shared by every process that opens it, fresh (zero-filled,
// then initialised) whenever no other process has it open, also after the
// process that had it crashed.
//
// Who is first is decided by locks that the kernel drops when their holder
// dies, never by anything written in the file:
//   - every process that holds the mapping keeps a shared flock on the
//     mapped file for as long as it holds it;
//   - an opener takes an exclusive flock on a side file, "<path>.init", for
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
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/posix/files.h"

namespace platform {
namespace posix {

// Test hook: called with the mapped file's path and a step name at each
// step of Open ("gate locked", "first", "cleared", "mapped", "initialised",
// "second", "shared"), so a test can stop or end an opener at any of them.
// Null (the default): no hook.
using SharedMappingStepHook = void (*)(const char* path, const char* step);
void SetSharedMappingStepHook(SharedMappingStepHook hook);

class SharedMapping {
public:
    // Runs once in the first opener, on the zero-filled block, while every
    // other opener waits.
    using Initialiser = std::function<void(void* block, std::size_t size)>;

    // Maps `size` bytes of the file at `path` (created when missing). Null
    // on failure, with errno set.
    static std::unique_ptr<SharedMapping> Open(const std::string& path, std::size_t size,
                                               const Initialiser& initialise = nullptr);

    SharedMapping(const SharedMapping&) = delete;
    SharedMapping& operator=(const SharedMapping&) = delete;
    // Unmaps the block and drops the shared lock.
    ~SharedMapping();

    void* block() const { return block_; }
    std::size_t size() const { return size_; }
    // True when this opener found nobody else holding the block.
    bool first() const { return first_; }

private:
    SharedMapping(UniqueFd fd, void* block, std::size_t size, bool first)
        : fd_(std::move(fd)), block_(block), size_(size), first_(first) {}

    UniqueFd fd_;
    void* block_;
    std::size_t size_;
    bool first_;
};

}  // namespace posix
}  // namespace platform

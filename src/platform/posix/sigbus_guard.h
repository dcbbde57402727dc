// Keeps a process alive when a file it maps shared is cut short under the
// mapping. Any member of the Windows directory's group can shorten the
// shared block or a mutex's file (`truncate -s 0`), and the next access to
// a page past the new end raises SIGBUS, which would end every client.
//
// The guard is a SIGBUS handler, installed with the first guarded mapping:
// when the faulting address lies in a guarded mapping, it maps zero pages
// over the whole mapping (anonymous, MAP_FIXED, so the address stays what
// every pointer into it holds), marks the mapping as faulted and returns,
// so the access completes on zeros. The owner of the mapping notices at its
// next check (SharedMapping::Repair, at each acquisition of the mutex that
// guards the block) and maps the file, grown back, again. A SIGBUS anywhere
// else goes to whatever handled it before, or ends the process as it would
// have. (The technique of compositors that map their clients' memory.)
#pragma once

#include <cstddef>

namespace platform {
namespace posix {

// Guards `length` bytes from `base` (a mapping, page-aligned). The slot
// to give back, or -1 when all are taken (the mapping then goes unguarded).
int GuardMapping(void* base, std::size_t length);
// Before the mapping goes away.
void UnguardMapping(int slot);
// Whether the guard replaced that mapping with zero pages since last asked.
bool TakeFault(int slot);

}  // namespace posix
}  // namespace platform

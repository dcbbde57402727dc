// The named, system-wide mutex: a process-shared, robust, recursive pthread
// mutex in a shared mapping found by name under the Windows directory.
//
// Robust: when its owner dies holding it, the next waiter acquires it with
// EOWNERDEAD (reported as Abandoned), makes it consistent and goes on, as a
// Windows mutex is abandoned to the next waiter. It first waits (bounded)
// until the dead owner's process has closed its files, so that nothing the
// dead one sent to the port service can arrive after the new owner's own
// requests; the holder's process id is kept beside the mutex for that. Recursive: the owning
// thread may take it again, and releases it once per acquisition. Whatever
// depth a dead owner left, the next owner holds it once.
//
// The mapping is initialised by its first opener (SharedMapping), so the
// mutex is built exactly once while any process has it open, and built
// afresh when the last one is gone, as a Windows mutex ceases to exist with
// its last handle.
//
// Any member of the directory's group can write the mutex's file. So the
// wait goes in slices: between them the file is checked (cut short, or a
// mutex of another kind: rebuilt), and a lock word that names a thread
// which does not exist is released as the kernel releases the mutex of an
// owner that died (the next owner finds it abandoned). Without that, a
// forged lock word would keep every client waiting for good.
#pragma once

#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace posix {

class SharedMapping;

// The mutex of that name under `dir`; null on failure with the last error
// set.
MutexHandle NamedMutexOpen(const std::string& dir, const char* name);
WaitResult NamedMutexWait(MutexHandle mutex);
// False (last error: not owner) when the calling thread does not hold it.
bool NamedMutexRelease(MutexHandle mutex);
// Whether the calling thread holds it.
bool NamedMutexHeld(MutexHandle mutex);
void NamedMutexClose(MutexHandle mutex);

// How long the next owner of an abandoned mutex waits at most for the dead
// owner's process to finish exiting: a second unless set otherwise for
// this process (tests lengthen it to tell "waited for the exit" from
// "waited the whole time").
void SetDeadOwnerWaitLimit(std::chrono::milliseconds limit);

// The first opener's self-check of a newly built mutex, before any other
// process can reach it: a thread that ends holding it leaves it abandoned
// to the next owner (the robust attribute is in force), that owner can take
// it again (recursive), and once made consistent it is free. A mutex that
// fails is not handed out.
bool MutexProvesRobustAndRecursive(pthread_mutex_t* mutex);

// Who holds the mutex of that name under `dir`: the process, as the holder
// recorded it, and the thread its lock word names; 0 when free or not
// known. A read-only look at the file that neither builds nor maps the
// mutex, for a program that wants to say whom it waits for; a holder that
// died without release, or a forged lock word, may still be named, so
// check that they exist.
struct MutexHolder {
    std::int32_t pid = 0;
    std::int32_t tid = 0;
};
MutexHolder NamedMutexHolder(const std::string& dir, const char* name);

// The mutex's block (the mutex, then the holder's process id as an int32)
// as NamedMutexOpen maps it; null with *why set on failure.
std::unique_ptr<SharedMapping> OpenMutexBlock(const std::string& dir, const char* name, std::string* why);

// The file that holds the mutex of that name: names may hold any character,
// files only some.
std::string NamedMutexPath(const std::string& dir, const char* name);

}  // namespace posix
}  // namespace platform

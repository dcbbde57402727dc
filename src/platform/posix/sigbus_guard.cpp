#include "platform/posix/sigbus_guard.h"

#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace platform {
namespace posix {
namespace {

// Lock-free, so the handler can read it at any moment: the handler looks
// at a slot while its base is not 0.
struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<std::uintptr_t> base{0};
    std::atomic<std::size_t> length{0};
    std::atomic<bool> faulted{false};
};
constexpr int kSlots = 64;  // a process maps the shared block and a few mutexes
Slot g_slots[kSlots];

struct sigaction g_previous;
std::once_flag g_installed;

// Puts zero pages over the guarded mapping that holds `address` and marks
// it faulted; false when none holds it (or the pages cannot be had).
bool ZeroMappingAt(std::uintptr_t address) {
    for (Slot& slot : g_slots) {
        const std::uintptr_t base = slot.base.load();
        const std::size_t length = slot.length.load();
        if (base == 0 || address - base >= length) continue;
        if (::mmap(reinterpret_cast<void*>(base), length, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
            return false;
        slot.faulted.store(true);
        return true;
    }
    return false;
}

void OnSigbus(int signal, siginfo_t* info, void* context) {
    // The interrupted code may be about to read errno, which a failed mmap
    // here would change.
    const int savedErrno = errno;
    // Only a fault has an address (a SIGBUS sent with kill has none).
    const bool zeroed = info->si_code > 0 && ZeroMappingAt(reinterpret_cast<std::uintptr_t>(info->si_addr));
    errno = savedErrno;
    if (zeroed) return;
    if ((g_previous.sa_flags & SA_SIGINFO) != 0) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    // As without us: a fault repeats on return and ends the process; a
    // signal that was sent is sent again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    if (info->si_code <= 0) ::raise(signal);
}

void Install() {
    struct sigaction action {};
    action.sa_sigaction = OnSigbus;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

int GuardMapping(void* base, std::size_t length) {
    std::call_once(g_installed, Install);
    for (int i = 0; i < kSlots; ++i) {
        bool free = false;
        if (!g_slots[i].taken.compare_exchange_strong(free, true)) continue;
        g_slots[i].length.store(length);
        g_slots[i].faulted.store(false);
        g_slots[i].base.store(reinterpret_cast<std::uintptr_t>(base));
        return i;
    }
    return -1;
}

void UnguardMapping(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    g_slots[slot].base.store(0);
    g_slots[slot].taken.store(false);
}

bool TakeFault(int slot) { return slot >= 0 && slot < kSlots && g_slots[slot].faulted.exchange(false); }

}  // namespace posix
}  // namespace platform

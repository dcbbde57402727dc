// The multi-process harness. Child processes are this test program started again in a named role, talking
// to the parent in lines over two pipes. A served system is a private Windows directory set up as an
// installed system with the demo chain served in this process, which watches every driver request.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "addin/shared_state.h"
#include "common/names.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/shared_mapping.h"
#include "portd/service.h"
#include "portd/socket_claim.h"
#include "posix/temp_dir.h"
#include "sim/chain.h"

namespace kestrel_mp {
using namespace kestrel_test;

constexpr int kWaitMs = 30000;
inline const std::string kMutexName = McbMutexName();

// In the child: its argument and its lines to and from the parent.
struct Channel {
    std::string arg, pending;
    void Send(const std::string& line);
    std::string Receive();  // empty once the parent has gone
};
using Role = int (*)(Channel&);
struct RoleRegistration {
    RoleRegistration(const char* name, Role role);
};
#define KESTREL_ROLE(name)                                                            \
    static int Role_##name(::kestrel_mp::Channel& channel);                         \
    static const ::kestrel_mp::RoleRegistration g_role_##name(#name, &Role_##name); \
    static int Role_##name(::kestrel_mp::Channel& channel)

// In the parent. Every wait is bounded; a child dies with its parent or its
// Child object.
class Child {
public:
    Child(const std::string& role, const std::string& windir, const std::string& arg = "");
    ~Child() { Kill(); }
    pid_t pid() const { return pid_; }
    void Send(const std::string& line);
    std::string Receive(int timeoutMs = kWaitMs);  // empty on time-out or end
    std::string Ask(const std::string& line) { return Send(line), Receive(); }
    // Adds a failure with the child's log unless the next line is `line`.
    bool Expect(const std::string& line);
    int Wait();  // exit code, 128 + signal, -1 when killed after the time
    void Kill();
    std::string Log() const { return ReadText(log_); }
    // True once its main thread, where verbs run, waits in a futex (bounded).
    bool BlockedInMutex();

private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1, code_ = -1;
    bool reaped_ = false;
    std::string log_, pending_;
};

// The served system. The parent holds the shared block and the add-in's mutex from the start, and sees for
// each driver request which process holds the mutex (the holder's process id kept beside it).
class ServedSystem {
public:
    // Without `serve` nothing listens on the device: a program may.
    explicit ServedSystem(bool serve = true);
    ~ServedSystem();
    const std::string& dir() const { return dir_.path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    sim::Chain& chain() { return *chain_; }
    SharedState& Table() { return *os_->Shared(); }
    void Lock();
    void Unlock() { os_->MutexRelease(mutex_); }
    pid_t HolderPid() const { return __atomic_load_n(ownerPid_, __ATOMIC_SEQ_CST); }
    // Counts the requests sent while process `pid` holds the mutex from now
    // on, and kills it as the driver takes request number `n` (0: never).
    void KillAtRequest(pid_t pid, int n);
    int Requests() const { return victimRequests_; }
    // Requests sent while nobody, or a process other than the one that spoke before on that connection,
    // held the mutex; commands a unit took that no client sends; table selections that do not describe the
    // units.
    std::vector<std::string> Faults();
    std::string Probed(int mcb);  // what the probe put in the table
    std::string UnitValue(int mcb, int det, const std::string& name);

private:
    TempDir dir_;
    std::unique_ptr<sim::Chain> chain_;
    std::unique_ptr<platform::posix::PosixOs> os_;
    platform::MutexHandle mutex_ = nullptr;
    std::unique_ptr<platform::posix::SharedMapping> mutexBlock_;
    pid_t* ownerPid_ = nullptr;  // follows the pthread mutex in its block
    portd::SocketClaim claim_;
    std::unique_ptr<portd::Service> service_;
    int stop_[2] = {-1, -1};
    std::thread thread_;
    std::mutex lock_;
    std::map<std::uint64_t, pid_t> speakers_;  // the process of each connection
    pid_t spoken_ = 0;                          // the last holder that spoke
    std::vector<std::string> faults_;
    std::atomic<pid_t> victim_{0};
    std::atomic<int> victimRequests_{0}, killAt_{0};
};

// What the demo chain answers to a command for one of its detectors.
std::string ExpectedReply(int mcb, int det, const std::string& command);
// Values that prove their integrity: "<prefix>.<filler>#<crc>".
std::string SealedValue(const std::string& prefix, std::uint32_t seed);
bool SealIntact(const std::string& value);
// The words SetData gets for a seed; their data bits as "words" shows them.
std::vector<std::uint32_t> SeedWords(std::uint32_t seed, int count);
std::string WordsText(std::uint32_t seed, int count);
std::string Hex8(std::uint32_t value);
long EnvNumber(const char* name, long fallback);

}  // namespace kestrel_mp

// One system for the multi-process tests: a private Windows directory set
// up as an installed system (LPT1 at 0x278), the demo chain served in this
// process by kestrel-portd's service on its socket, and what the parent
// watches: the order of requests (BracketChecker), the units' received
// commands, and the shared table.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "addin/shared_state.h"
#include "platform/posix/posix_os.h"
#include "portd/service.h"
#include "portd/socket_claim.h"
#include "posix/temp_dir.h"
#include "sim/chain.h"

namespace kestrel_test {

// Follows the brackets that ObservedOs sends: every request of a connection
// must come while that connection's process holds the add-in's mutex, and
// no two connections (or two threads) may hold it at once. A process that
// dies holding it leaves its bracket open; the next holder may take over,
// and the dead connection must then be silent until it closes.
class BracketChecker {
public:
    void OnRequest(std::uint64_t connection, std::uint32_t code, const std::uint8_t* input,
                   std::uint32_t length);
    void OnClosed(std::uint64_t connection);

    struct Report {
        std::uint64_t requests = 0;    // driver requests, markers excluded
        std::uint64_t brackets = 0;    // holds seen
        std::uint64_t abandoned = 0;   // connections that closed inside their bracket
        std::uint64_t takeovers = 0;   // holds taken from a connection not yet closed
        std::uint64_t violations = 0;
        std::uint64_t unclosedTakeovers = 0;  // taken-over connections still open
        std::vector<std::string> examples;    // the first few violations
    };
    Report Get() const;
    // The process that holds the mutex now, as its marker said; 0: none.
    std::uint32_t HolderPid() const;

private:
    void Violation(const std::string& what);

    mutable std::mutex lock_;
    Report report_;
    bool held_ = false;
    std::uint64_t holder_ = 0;
    std::uint32_t holderThread_ = 0;
    std::uint32_t holderPid_ = 0;
    std::set<std::uint64_t> superseded_;
};

// The fields a probe fills, to compare a record with the one a complete
// probe left.
struct ProbedRecord {
    explicit ProbedRecord(const McbRecord& record);
    bool operator==(const ProbedRecord& other) const;
    std::string Describe() const;

    std::int32_t nDetectors, nMailboxType, bResponding, bDevices;
    std::uint16_t wTotalChannels;
    std::string version;
    std::vector<std::uint32_t> words;  // masks, channels and features, in order
};

class ServedSystem {
public:
    ServedSystem();
    ~ServedSystem();
    ServedSystem(const ServedSystem&) = delete;
    ServedSystem& operator=(const ServedSystem&) = delete;

    bool serving() const { return serving_; }
    const std::string& dir() const { return dir_.path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }

    sim::Chain& chain() { return *chain_; }
    BracketChecker::Report Brackets() const { return brackets_.Get(); }
    std::uint32_t HolderPid() const { return brackets_.HolderPid(); }
    // Client connections open now.
    std::size_t Connections() const { return connections_.load(); }
    // Waits (bounded) until every client connection has closed.
    bool WaitNoConnections(int timeoutMs = 10000) const;

    // Stops the service between two requests (it is then parked in
    // accepting a connection of the parent's) until ResumeService; what
    // clients send meanwhile waits in their sockets.
    bool PauseService();
    void ResumeService();

    // The shared table as this process maps it (the parent then holds the
    // block too, so it outlives the clients). Read it while holding the
    // add-in's mutex, or while every client is idle.
    SharedState& Table();
    // The add-in's mutex, taken by this thread (bounded: false when it could
    // not be had within the time).
    bool Lock(int timeoutMs = 10000);
    void Unlock();

    // Each unit's selection as the unit itself has it.
    int UnitSelected(int mcb);
    int UnitView(int mcb);
    // A stored value in the unit (MCB storage), or "<none>".
    std::string UnitValue(int mcb, int det, const std::string& name);
    // Commands a unit took that no client can have sent, described; empty
    // when all were well-formed. *count receives how many it took.
    std::vector<std::string> MalformedCommands(int mcb, std::uint64_t* count);
    // Checks that each cached selection in the table describes its unit
    // (or is unknown); call while holding the mutex. Empty when consistent.
    std::string SelectionMismatch();

private:
    TempDir dir_;
    std::unique_ptr<sim::Chain> chain_;
    portd::SocketClaim claim_;
    std::unique_ptr<portd::Service> service_;
    int stop_[2] = {-1, -1};
    std::thread thread_;
    bool serving_ = false;
    BracketChecker brackets_;
    std::atomic<std::size_t> connections_{0};
    std::mutex pauseLock_;
    std::condition_variable pauseChanged_;
    bool pauseArmed_ = false, paused_ = false;
    int pauser_ = -1;
    std::unique_ptr<platform::posix::PosixOs> os_;
    platform::MutexHandle mutex_ = nullptr;
};

// What the demo chain's unit answers to a command aimed at one of its
// detectors (the first response text; empty when there is none), worked out
// on a private copy of the unit.
std::string ExpectedReply(int mcb, int det, const std::string& command);

// Values that prove their own integrity: "<prefix>.<filler>#<crc>", the crc
// over everything before '#'. A value cut, spliced or mixed with another
// fails the check.
std::string SealedValue(const std::string& prefix, std::size_t fillerLength, std::uint32_t seed);
bool SealIntact(const std::string& value);

// Milliseconds and nanoseconds of CLOCK_MONOTONIC, comparable across
// processes.
std::int64_t MonotonicNs();

// The whole lines of a file (a journal written with O_APPEND).
std::vector<std::string> ReadLines(const std::string& path);
// Appends one line in one write, so lines of two threads never mix and a
// process killed at any moment leaves whole lines only.
void AppendLine(int fd, const std::string& line);

// Seconds or counts from the environment, with a default.
long EnvNumber(const char* name, long fallback);

}  // namespace kestrel_test

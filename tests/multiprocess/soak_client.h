// The client process of the soaks: the add-in opened in a process of its
// own, two threads doing random operations on the demo chain, every answer
// checked on the spot, and a journal of what it wrote.
//
// Role "SoakClient", argument "<slot> <incarnation> <journal> <progress>
// [now]": opens the add-in, says "opened", waits for "go" (unless "now"),
// runs until "stop" (or until killed), says "stopped <operations>
// <errors>", closes and exits.
//
// Journal lines (one write each, so a kill leaves whole lines):
//   P <what>            about to write, A <what> written and read back,
//   E <text>            an answer that was wrong,
//   O                   Open returned
// where <what> is one of
//   V <mcb> <det> <name> <value>          a named value
//   D <mcb> <det> <start> <seed>          8 channel words made from seed
//   L <mcb> <det> <number> <owner>        a lock
//
// Role "SoakChecker": opens the add-in and answers, line by line,
//   value <mcb> <det> <name>  -> the value, or <missing>
//   data <mcb> <det> <start>  -> the 8 words, data bits only, in hex
//   lock <mcb> <det>          -> "<number> <owner>"
// until "exit"; then closes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel_test {

constexpr int kSoakClients = 8;
constexpr int kDataWords = 8;

// The data words a client writes for a seed.
std::vector<std::uint32_t> SoakDataWords(std::uint32_t seed);
// Where slot `slot`, thread `thread` keeps its channel words.
std::uint32_t SoakDataStart(int slot, int thread);
// The name under which slot `slot`, thread `thread` keeps its values.
std::string SoakValueName(int slot, int thread);

struct Target {
    int mcb;
    int det;
};
// Where the clients keep values (MCB 9 in the unit, MCB 12 in the INI
// file), channel words (stopped inputs only, so counting cannot change
// them), and locks.
extern const std::vector<Target> kValueTargets;
extern const std::vector<Target> kDataTargets;
extern const std::vector<Target> kLockTargets;

// The progress counters of the clients: one 64-bit word per slot in a file
// that every client maps.
class Progress {
public:
    explicit Progress(const std::string& path);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Add(int slot, std::uint64_t n);
    std::uint64_t Total() const;

private:
    std::uint64_t* words_ = nullptr;
};

}  // namespace kestrel_test

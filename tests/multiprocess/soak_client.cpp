#include "multiprocess/soak_client.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <thread>

#include "addin/kestrel.h"
#include "multiprocess/observed_os.h"
#include "multiprocess/served_system.h"
#include "posix/child_process.h"

namespace kestrel_test {

const std::vector<Target> kValueTargets = {{9, 1}, {9, 2}, {12, 1}, {12, 3}};
const std::vector<Target> kDataTargets = {{9, 2}, {12, 3}, {12, 4}};
const std::vector<Target> kLockTargets = {{9, 1}, {9, 2}, {12, 1}, {12, 2}};

namespace {

constexpr std::size_t kProgressWords = 64;
// Every input of the demo chain, for raw commands and regions.
const std::vector<Target> kInputs = {{9, 1}, {9, 2}, {12, 1}, {12, 2}, {12, 3}, {12, 4}};
const char* const kUnitCommands9[] = {"SHOW_VERS", "SHOW_CONF", "SHOW_FEAT", "SHOW_FEAT_EXTE",
                                      "SHOW_CONF_MASK", "SHOW_ACTI"};
const char* const kUnitCommands12[] = {"SHOW_VERS", "SHOW_FEAT", "SHOW_CONF_MASK", "SHOW_ACTI",
                                       "SHOW_ACTI_DEVI"};
constexpr std::uint32_t kDataMask = 0x00FFFFFF;  // of every input in kDataTargets

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

class Client {
public:
    Client(int slot, int incarnation, int journal, Progress& progress)
        : slot_(slot), incarnation_(incarnation), journal_(journal), progress_(progress) {}

    Kestrel addin;
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> operations{0};
    std::atomic<std::uint64_t> errors{0};

    void Run(int thread) {
        std::mt19937 random(static_cast<std::uint32_t>(incarnation_ * 7919 + slot_ * 131 + thread));
        std::uint32_t seq = 1;
        // Every place once first, whatever the time, so each is written.
        for (const Target& t : kValueTargets) {
            Value(random, thread, seq++, &t);
            Count();
        }
        for (const Target& t : kDataTargets) {
            Data(random, thread, seq++, &t);
            Count();
        }
        for (; !stop.load(); ++seq) {
            unsigned pick = random() % 100;
            if (pick < 20) Raw(random);
            else if (pick < 35) Roi(random);
            else if (pick < 55) Data(random, thread, seq);
            else if (pick < 65) Lock(random, thread, seq);
            else Value(random, thread, seq);
            Count();
        }
    }

private:
    void Count() {
        ++operations;
        progress_.Add(slot_, 1);
    }

    void Journal(const std::string& line) { AppendLine(journal_, line); }

    void Error(const std::string& what) {
        ++errors;
        Journal("E " + what);
    }

    template <typename T>
    static const T& Pick(std::mt19937& random, const std::vector<T>& from) {
        return from[random() % from.size()];
    }

    void Raw(std::mt19937& random) {
        const Target& t = Pick(random, kInputs);
        const char* command = t.mcb == 9 ? kUnitCommands9[random() % 6] : kUnitCommands12[random() % 5];
        char response[256];
        std::memset(response, 'x', sizeof response);
        std::int32_t length = -1, localErr = -9, status2 = -9;
        bool ok = addin.SendCommand(t.mcb, t.det, command, sizeof response, response, &length,
                                    &localErr, &status2);
        std::string expected = ExpectedReply(t.mcb, t.det, command);
        if (!ok || localErr != 0 || response != expected ||
            length != static_cast<std::int32_t>(expected.size()))
            Error("raw " + std::string(command) + " to " + std::to_string(t.mcb) + "/" +
                  std::to_string(t.det) + ": ok " + std::to_string(ok) + " err " +
                  std::to_string(localErr) + " \"" + std::string(response) + "\" wanted \"" +
                  expected + "\"");
    }

    void Roi(std::mt19937& random) {
        const Target& t = Pick(random, kInputs);
        std::int32_t view = t.mcb == 9 ? static_cast<std::int32_t>(random() % 2) : 0;
        std::uint32_t channels = t.mcb == 9 ? 4096 : 16384;
        std::uint32_t start = random() % channels, count = 1 + random() % 64;
        std::int32_t localErr = -9, status2 = -9;
        bool clear = random() % 3 == 0;
        std::int32_t result = clear ? addin.ClearROI(t.mcb, t.det, 0, 0, view, &localErr, &status2)
                                    : addin.SetROI(t.mcb, t.det, start, count, view, &localErr, &status2);
        if (result != 1 || localErr != 0)
            Error(std::string(clear ? "ClearROI" : "SetROI") + " on " + std::to_string(t.mcb) + "/" +
                  std::to_string(t.det) + " view " + std::to_string(view) + ": " +
                  std::to_string(result) + " err " + std::to_string(localErr));
    }

    void Data(std::mt19937& random, int thread, std::uint32_t seq, const Target* where = nullptr) {
        const Target& t = where ? *where : Pick(random, kDataTargets);
        std::uint32_t start = SoakDataStart(slot_, thread);
        std::uint32_t seed = static_cast<std::uint32_t>(incarnation_) * 1000003u + thread * 7777u + seq;
        std::vector<std::uint32_t> words = SoakDataWords(seed);
        std::string what = "D " + std::to_string(t.mcb) + " " + std::to_string(t.det) + " " +
                           std::to_string(start) + " " + std::to_string(seed);
        Journal("P " + what);
        std::int32_t set = addin.SetData(t.mcb, t.det, 0, start, kDataWords, 0, words.data());
        std::uint32_t mask = 0, aux = 0, back[kDataWords] = {};
        std::int32_t got = addin.GetData(t.mcb, t.det, &mask, &aux, 0, start, kDataWords, 0, back);
        bool same = set == 1 && got == 1 && mask == kDataMask;
        for (int i = 0; same && i < kDataWords; ++i) same = (back[i] & mask) == (words[i] & kDataMask);
        if (!same) {
            Error("data " + what + ": set " + std::to_string(set) + " get " + std::to_string(got) +
                  " mask " + Hex(mask) + " word 0 " + Hex(back[0]) + " wanted " + Hex(words[0] & kDataMask));
            return;
        }
        Journal("A " + what);
    }

    void Lock(std::mt19937& random, int thread, std::uint32_t seq) {
        const Target& t = Pick(random, kLockTargets);
        std::uint32_t number = static_cast<std::uint32_t>(incarnation_ * 2 + thread) * 100000u + seq % 100000u;
        std::string owner = SealedValue("L" + std::to_string(number), random() % 12, number);
        std::string what = "L " + std::to_string(t.mcb) + " " + std::to_string(t.det) + " " +
                           std::to_string(number) + " " + owner;
        Journal("P " + what);
        // Held across both calls: nobody may come between the write and the
        // read, in this process or any other.
        char back[128];
        std::memset(back, 0, sizeof back);
        std::uint32_t got;
        {
            TMutexAccess hold(addin.mutex);
            addin.SetLock(t.mcb, t.det, number, owner.c_str());
            got = addin.GetLock(t.mcb, t.det, back, sizeof back);
        }
        if (got != number || owner != back) {
            Error("lock " + what + ": got " + std::to_string(got) + " \"" + back + "\"");
            return;
        }
        Journal("A " + what);
    }

    void Value(std::mt19937& random, int thread, std::uint32_t seq, const Target* where = nullptr) {
        const Target& t = where ? *where : Pick(random, kValueTargets);
        std::string name = SoakValueName(slot_, thread);
        std::string value = SealedValue(
            "v" + std::to_string(incarnation_) + "." + std::to_string(thread) + "." + std::to_string(seq),
            random() % 60, seq * 2654435761u + static_cast<std::uint32_t>(slot_));
        std::string what = "V " + std::to_string(t.mcb) + " " + std::to_string(t.det) + " " + name + " " + value;
        Journal("P " + what);
        bool set;
        char back[200];
        std::int32_t length;
        if (random() % 4 == 0) {
            TMutexAccess hold(addin.mutex);  // the pair under one hold, nested
            set = addin.SetAppData(t.mcb, t.det, name.c_str(), value.c_str());
            length = addin.GetAppData(t.mcb, t.det, name.c_str(), "<missing>", back, sizeof back);
        } else {
            set = addin.SetAppData(t.mcb, t.det, name.c_str(), value.c_str());
            length = addin.GetAppData(t.mcb, t.det, name.c_str(), "<missing>", back, sizeof back);
        }
        if (!set || value != back || length != static_cast<std::int32_t>(value.size())) {
            Error("value " + what + ": set " + std::to_string(set) + " read \"" + back + "\"");
            return;
        }
        Journal("A " + what);
    }

    int slot_;
    int incarnation_;
    int journal_;
    Progress& progress_;
};

}  // namespace

std::vector<std::uint32_t> SoakDataWords(std::uint32_t seed) {
    std::vector<std::uint32_t> words(kDataWords);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint32_t& word : words) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        word = x;
    }
    return words;
}

std::uint32_t SoakDataStart(int slot, int thread) {
    return 64 + kDataWords * static_cast<std::uint32_t>(2 * slot + thread);
}

std::string SoakValueName(int slot, int thread) {
    return "K" + std::to_string(slot) + "_" + std::to_string(thread);
}

Progress::Progress(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (::ftruncate(fd, kProgressWords * sizeof(std::uint64_t)) == 0) {
        void* block = ::mmap(nullptr, kProgressWords * sizeof(std::uint64_t), PROT_READ | PROT_WRITE,
                             MAP_SHARED, fd, 0);
        if (block != MAP_FAILED) words_ = static_cast<std::uint64_t*>(block);
    }
    ::close(fd);
}

Progress::~Progress() {
    if (words_ != nullptr) ::munmap(words_, kProgressWords * sizeof(std::uint64_t));
}

void Progress::Add(int slot, std::uint64_t n) {
    if (words_ != nullptr) __atomic_fetch_add(&words_[slot % kProgressWords], n, __ATOMIC_SEQ_CST);
}

std::uint64_t Progress::Total() const {
    std::uint64_t total = 0;
    if (words_ != nullptr)
        for (std::size_t i = 0; i < kProgressWords; ++i) total += __atomic_load_n(&words_[i], __ATOMIC_SEQ_CST);
    return total;
}

KESTREL_CHILD_ROLE(SoakClient) {
    InstallObservedOs();
    std::istringstream args(channel.arg());
    int slot = 0, incarnation = 0;
    std::string journalPath, progressPath, start;
    if (!(args >> slot >> incarnation >> journalPath >> progressPath)) return 2;
    args >> start;  // "now": no "go" awaited
    int journal = ::open(journalPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (journal < 0) return 3;
    Progress progress(progressPath);
    Client client(slot, incarnation, journal, progress);
    client.addin.Open();
    AppendLine(journal, "O");
    channel.Send("opened");
    if (start != "now" && !channel.Expect("go")) return 0;
    std::thread first([&] { client.Run(0); });
    std::thread second([&] { client.Run(1); });
    channel.Receive();  // "stop", or the parent has gone
    client.stop.store(true);
    first.join();
    second.join();
    channel.Send("stopped " + std::to_string(client.operations.load()) + " " +
                 std::to_string(client.errors.load()));
    client.addin.Close();
    ::close(journal);
    return 0;
}

KESTREL_CHILD_ROLE(SoakChecker) {
    InstallObservedOs();
    Kestrel addin;
    addin.Open();
    channel.Send("opened");
    while (true) {
        std::istringstream order(channel.Receive());
        std::string verb, name;
        int mcb = 0, det = 0;
        if (!(order >> verb) || verb == "exit") break;
        order >> mcb >> det;
        std::string answer;
        if (verb == "value" && order >> name) {
            char value[200];
            addin.GetAppData(mcb, det, name.c_str(), "<missing>", value, sizeof value);
            answer = value;
        } else if (verb == "data") {
            std::uint32_t start = 0, mask = 0, aux = 0, words[kDataWords] = {};
            order >> start;
            if (addin.GetData(mcb, det, &mask, &aux, 0, start, kDataWords, 0, words) != 1) {
                answer = "failed";
            } else {
                for (std::uint32_t word : words) answer += Hex(word & mask) + " ";
            }
        } else if (verb == "lock") {
            char owner[128] = "";
            std::uint32_t number = addin.GetLock(mcb, det, owner, sizeof owner);
            answer = std::to_string(number) + " " + owner;
        } else {
            answer = "unknown order";
        }
        channel.Send(answer);
    }
    addin.Close();
    channel.Send("closed");
    return 0;
}

}  // namespace kestrel_test

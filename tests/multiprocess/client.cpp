// The one client role: the add-in in a process of its own, driven by verbs,
// one a line, each answered with one line. With a journal as its argument
// it also runs the random workload in two threads until "stop".
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <sstream>

#include "addin/kestrel.h"
#include "addin/process_state.h"
#include "multiprocess/harness.h"
#include "platform/posix/files.h"
#include "platform/posix/named_mutex.h"
#include "platform/posix/profile.h"
#include "sim/driver.h"

namespace kestrel_mp {
using namespace kestrel_test;
namespace {

struct Client;
using Verb = std::string (*)(Client&, std::istream&);
std::string N(long long value) { return std::to_string(value); }

int g_dieAtIniStep = 0, g_iniSteps = 0;

// A profile write step: the process ends at the chosen one, by signal or
// by _exit in turn.
void IniStep(const char*) {
    if (++g_iniSteps != g_dieAtIniStep) return;
    if (g_dieAtIniStep % 2 == 1) ::kill(::getpid(), SIGKILL);
    ::_exit(86);
}

struct Client {
    Kestrel addin;
    platform::Os& os = platform::os();
    platform::MutexHandle Mutex() { return addin.mutex.Handle(); }
    std::string Do(const std::string& line);
    void Work(int thread);

    int journal = -1, slot = 0, incarnation = 0;
    std::string journalPath;
    std::vector<std::unique_ptr<TMutexAccess>> taken;  // by the verb thread only
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> operations{0}, errors{0};
};

#define VERB(name) {name, []([[maybe_unused]] Client& c, [[maybe_unused]] std::istream& in) -> std::string
const std::map<std::string, Verb> kVerbs = {
    VERB("open") { return c.addin.Open(), N(*c.addin.pnSystemOpenCount); }},
    VERB("close") { return c.addin.Close(), N(*c.addin.pnSystemOpenCount); }},
    VERB("count") { return N(*c.addin.pnSystemOpenCount); }},
    VERB("hold") {
        platform::WaitResult how = c.os.MutexWait(c.Mutex());
        return how == platform::WaitResult::Acquired ? "acquired"
             : how == platform::WaitResult::Abandoned ? "abandoned" : "failed";
    }},
    // As the add-in takes it: after a dead owner no cached selection holds.
    VERB("take") { return c.taken.emplace_back(new TMutexAccess(c.addin.mutex)), "taken"; }},
    VERB("release") {
        if (!c.taken.empty()) return c.taken.pop_back(), "released";
        return c.os.MutexRelease(c.Mutex()) ? "released" : "not released";
    }},
    VERB("detectors") {
        int m = 0;
        in >> m;
        return N(c.addin.GetDetectorCount(m));
    }},
    VERB("setword") {
        int m = 0, d = 0;
        std::uint32_t word = 0;
        in >> m >> d >> word;
        return c.addin.SetDetectorWord(m, d, word), "1";
    }},
    VERB("getword") {
        int m = 0, d = 0;
        in >> m >> d;
        return N(c.addin.GetDetectorWord(m, d));
    }},
    VERB("raw") {
        int m = 0, d = 0;
        std::string command;
        in >> m >> d >> command;
        char response[256] = "";
        std::int32_t length = -1, err = -9;
        bool ok = c.addin.SendCommand(m, d, command.c_str(), sizeof response, response, &length, &err, nullptr);
        if (ok && length != static_cast<std::int32_t>(std::strlen(response))) return "length " + N(length);
        return N(ok) + " " + N(err) + " " + response;
    }},
    VERB("value") {
        int m = 0, d = 0;
        std::string name;
        in >> m >> d >> name;
        char value[200];
        std::int32_t length = c.addin.GetAppData(m, d, name.c_str(), "<missing>", value, sizeof value);
        return length == static_cast<std::int32_t>(std::strlen(value)) ? value : "length " + N(length);
    }},
    VERB("set") {
        int m = 0, d = 0;
        std::string name, value;
        in >> m >> d >> name >> value;
        return N(c.addin.SetAppData(m, d, name.c_str(), value.c_str()));
    }},
    VERB("words") {
        int m = 0, d = 0, count = 0;
        std::uint32_t start = 0, mask = 0, aux = 0, words[16] = {};
        in >> m >> d >> start >> count;
        if (c.addin.GetData(m, d, &mask, &aux, 0, start, count, 0, words) != 1) return "failed";
        std::string text;
        for (int i = 0; i < count; ++i) text += (i ? " " : "") + Hex8(words[i] & mask);
        return text;
    }},
    VERB("setwords") {
        int m = 0, d = 0, count = 0;
        std::uint32_t start = 0, seed = 0;
        in >> m >> d >> start >> count >> seed;
        return N(c.addin.SetData(m, d, 0, start, count, 0, SeedWords(seed, count).data()));
    }},
    VERB("roi") {
        int m = 0, d = 0, view = 0;
        std::uint32_t start = 0, count = 0;
        std::int32_t err = -9, status2 = -9;
        in >> m >> d >> start >> count >> view;
        std::int32_t result = c.addin.SetROI(m, d, start, count, view, &err, &status2);
        return N(result) + " " + N(err);
    }},
    VERB("clear") {
        int m = 0, d = 0, view = 0;
        std::int32_t err = -9, status2 = -9;
        in >> m >> d >> view;
        std::int32_t result = c.addin.ClearROI(m, d, 0, 0, view, &err, &status2);
        return N(result) + " " + N(err);
    }},
    VERB("lock") {
        int m = 0, d = 0;
        in >> m >> d;
        char owner[128] = "";
        std::uint32_t number = c.addin.GetLock(m, d, owner, sizeof owner);
        return N(number) + " " + owner;
    }},
    VERB("setlock") {
        int m = 0, d = 0;
        std::uint32_t number = 0;
        std::string owner;
        in >> m >> d >> number >> owner;
        return c.addin.SetLock(m, d, number, owner.c_str()), "1";
    }},
    VERB("refresh") { return c.addin.RefreshLocks(), "done"; }},
    VERB("dieini") {
        in >> g_dieAtIniStep;
        g_iniSteps = 0;
        platform::posix::SetProfileWriteStepHook(&IniStep);
        return "armed";
    }},
    VERB("steps") { return N(g_iniSteps); }},
    // Keys written straight to the profile, outside the add-in's mutex.
    VERB("inikeys") {
        std::string prefix;
        in >> prefix;
        bool ok = true;
        for (int i = 0; i < 40; ++i) ok &= c.os.ProfileWrite("SHARED", (prefix + N(i)).c_str(), N(i).c_str(), "HVNACC32.INI");
        return N(ok);
    }},
    VERB("cap") {
        long ms = 0;
        in >> ms;
        return platform::posix::SetDeadOwnerWaitLimit(std::chrono::milliseconds(ms)), "set";
    }},
    // The driver aimed at the first byte of MCB 9's command text (mailbox
    // space, offset 16 at the type-5 spacing), then a write of 'Z' there
    // sent without waiting for its answer, as by a process about to die.
    VERB("aim") {
        std::uint8_t address[16] = {0, 0, 0, 0, 8, 0, 0, 0, 32, 0, 0, 0, 1, 0, 0, 0};
        std::uint32_t returned = 0;
        return c.os.DriverIoctl(Process().hPortDriver, sim::kNtSetAddress, address, 16, nullptr, 0, &returned)
                   ? "aimed" : "not aimed";
    }},
    VERB("stale") {
        std::uint8_t request[13] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 'Z'};
        std::memcpy(request, &sim::kNtWrite, 4);  // little-endian here
        return ::send(static_cast<int>(Process().hPortDriver), request, 13, MSG_NOSIGNAL) == 13 ? "sent" : "not sent";
    }},
};
#undef VERB

std::string Client::Do(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    auto found = kVerbs.find(verb);
    return found == kVerbs.end() ? "unknown verb: " + line : found->second(*this, in);
}

struct Target {
    int mcb, det;
};
const Target kInputs[] = {{9, 1}, {9, 2}, {12, 1}, {12, 2}, {12, 3}, {12, 4}};
// Values in the unit (MCB 9) and in the INI file (MCB 12); channel words of
// stopped inputs only, so counting cannot change them.
const Target kValueTargets[] = {{9, 1}, {9, 2}, {12, 1}, {12, 3}};
const Target kDataTargets[] = {{9, 2}, {12, 3}, {12, 4}};
const Target kLockTargets[] = {{9, 1}, {9, 2}, {12, 1}, {12, 2}};
const char* const kCommands9[] = {"SHOW_VERS", "SHOW_CONF", "SHOW_FEAT", "SHOW_FEAT_EXTE", "SHOW_CONF_MASK", "SHOW_ACTI"};
const char* const kCommands12[] = {"SHOW_VERS", "SHOW_FEAT", "SHOW_CONF_MASK", "SHOW_ACTI", "SHOW_ACTI_DEVI"};

// Random operations, each answer checked at once; every write journaled
// before (P) and after (A) it, so a kill leaves what it may have done.
void Client::Work(int thread) {
    std::mt19937 random(static_cast<std::uint32_t>(incarnation * 7919 + slot * 131 + thread));
    const std::string me = N(slot) + "_" + N(thread);
    for (std::uint32_t seq = 0; !stop || seq < 7; ++seq) {
        // Every value and data place first, whatever the time, so that each
        // is written whole by the last of a slot's processes.
        unsigned pick = seq < 4 ? 99 : seq < 7 ? 50 : random() % 100;
        Target t = kInputs[random() % 6];
        std::string where = N(t.mcb) + " " + N(t.det) + " ", write, read, want = "1 0", writer = "-";
        bool hold = false;
        if (pick < 20) {
            std::string command = t.mcb == 9 ? kCommands9[random() % 6] : kCommands12[random() % 5];
            read = "raw " + where + command;
            want = "1 0 " + ExpectedReply(t.mcb, t.det, command);
        } else if (pick < 35) {
            std::string view = N(t.mcb == 9 ? random() % 2 : 0);
            read = random() % 3 ? "roi " + where + N(random() % 4096) + " " + N(1 + random() % 64) + " " + view
                                : "clear " + where + view;
        } else if (pick < 55) {
            t = seq < 7 ? kDataTargets[seq - 4] : kDataTargets[random() % 3];
            std::string start = N(64 + 8 * (2 * slot + thread)) + " 8 ";
            std::uint32_t seed = static_cast<std::uint32_t>(incarnation) * 1000003u + thread * 7777u + seq;
            write = "setwords " + N(t.mcb) + " " + N(t.det) + " " + start + N(seed);
            read = "words " + N(t.mcb) + " " + N(t.det) + " " + start;
            want = WordsText(seed, 8);
        } else if (pick < 65) {
            t = kLockTargets[random() % 4];
            std::uint32_t number = static_cast<std::uint32_t>(incarnation * 2 + thread) * 100000u + seq % 100000u;
            want = N(number) + " " + SealedValue("L" + N(number), number);
            write = "setlock " + N(t.mcb) + " " + N(t.det) + " " + want;
            read = "lock " + N(t.mcb) + " " + N(t.det);
            writer = journalPath + ":" + N(thread);  // locks have many writers
            hold = true;  // nobody may come between the write and the read
        } else {
            t = seq < 4 ? kValueTargets[seq] : kValueTargets[random() % 4];
            want = SealedValue("v" + N(incarnation) + "." + me + "." + N(seq), seq * 2654435761u + slot);
            write = "set " + N(t.mcb) + " " + N(t.det) + " K" + me + " " + want;
            read = "value " + N(t.mcb) + " " + N(t.det) + " K" + me;
            hold = random() % 4 == 0;  // the pair under one hold, nested
        }
        const std::string place = writer + " " + read + "=" + want + "\n";
        if (!write.empty()) platform::posix::WriteAll(journal, "P " + place);
        if (hold) Do("hold");
        std::string wrote = write.empty() ? "1" : Do(write), got = Do(read);
        if (hold) Do("release");
        if (wrote != "1" || got != want) {
            ++errors;
            platform::posix::WriteAll(journal, "E " + write + " / " + read + ": \"" + wrote + "\", \"" + got +
                                                   "\", wanted \"" + want + "\"\n");
        } else if (!write.empty()) {
            platform::posix::WriteAll(journal, "A " + place);
        }
        ++operations;
    }
}

}  // namespace

// Argument: empty (opens the add-in), "closed", or "<journal> <slot>
// <incarnation>": opens, journals "O" and works until "stop".
KESTREL_ROLE(Client) {
    Client client;
    std::istringstream arg(channel.arg);
    std::vector<std::thread> workers;
    if (channel.arg != "closed") client.addin.Open();
    if (arg >> client.journalPath >> client.slot >> client.incarnation) {
        client.journal = ::open(client.journalPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        platform::posix::WriteAll(client.journal, "O\n");
        for (int thread = 0; thread < 2; ++thread) workers.emplace_back([&client, thread] { client.Work(thread); });
    }
    channel.Send("ready");
    for (std::string line; !(line = channel.Receive()).empty() && line != "exit";) {
        if (line != "stop") {
            channel.Send(client.Do(line));
            continue;
        }
        client.stop = true;
        for (std::thread& worker : workers) worker.join();
        channel.Send("stopped " + N(client.operations) + " " + N(client.errors));
    }
    client.taken.clear();
    client.addin.Close();
    return 0;
}

}  // namespace kestrel_mp

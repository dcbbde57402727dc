// The one client role: the add-in in a process of its own, driven by verbs,
// one a line, each answered with one line. With "<marker> <slot>
// <incarnation>" as its argument it also runs random operations in two
// threads until "stop", each answer checked at once.
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <sstream>

#include "addin/kestrel.h"
#include "multiprocess/harness.h"
#include "platform/posix/named_mutex.h"
#include "platform/posix/profile.h"

namespace kestrel_mp {
namespace {

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
    std::vector<std::unique_ptr<TMutexAccess>> taken;  // by the verb thread only
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> operations{0}, errors{0};
    std::string Do(const std::string& line);
    void Work(int slot, int incarnation, int thread);
};

// Verbs with their integer arguments (a[0..]) and a word (w).
using Verb = std::string (*)(Client&, const long* a, const std::string& w);
#define VERB(name, ...) {name, []([[maybe_unused]] Client& c, [[maybe_unused]] const long* a, \
                                  [[maybe_unused]] const std::string& w) -> std::string { __VA_ARGS__ }}
const std::map<std::string, Verb> kVerbs = {
    VERB("open", c.addin.Open(); return N(*c.addin.pnSystemOpenCount);),
    VERB("close", c.addin.Close(); return N(*c.addin.pnSystemOpenCount);),
    VERB("count", return N(*c.addin.pnSystemOpenCount);),
    VERB("hold", platform::WaitResult how = c.os.MutexWait(c.addin.mutex.Handle());
         return how == platform::WaitResult::Acquired ? "acquired"
              : how == platform::WaitResult::Abandoned ? "abandoned" : "failed";),
    // As the add-in takes it: after a dead owner no cached selection holds.
    VERB("take", c.taken.emplace_back(new TMutexAccess(c.addin.mutex)); return "taken";),
    VERB("release", if (!c.taken.empty()) return c.taken.pop_back(), "released";
         return c.os.MutexRelease(c.addin.mutex.Handle()) ? "released" : "not released";),
    VERB("detectors", return N(c.addin.GetDetectorCount(a[0]));),
    VERB("setword", c.addin.SetDetectorWord(a[0], a[1], static_cast<std::uint32_t>(a[2])); return "1";),
    VERB("getword", return N(c.addin.GetDetectorWord(a[0], a[1]));),
    VERB("raw", char response[256] = "";
         std::int32_t length = -1, err = -9;
         bool ok = c.addin.SendCommand(a[0], a[1], w.c_str(), sizeof response, response, &length, &err, nullptr);
         if (ok && length != static_cast<std::int32_t>(std::strlen(response))) return "length " + N(length);
         return N(ok) + " " + N(err) + " " + response;),
    VERB("value", char value[200];
         std::int32_t length = c.addin.GetAppData(a[0], a[1], w.c_str(), "<missing>", value, sizeof value);
         return length == static_cast<std::int32_t>(std::strlen(value)) ? value : "length " + N(length);),
    VERB("set", std::istringstream pair(w);
         std::string name, value;
         pair >> name >> value;
         return N(c.addin.SetAppData(a[0], a[1], name.c_str(), value.c_str()));),
    VERB("words", std::uint32_t mask = 0, aux = 0, words[16] = {};
         if (c.addin.GetData(a[0], a[1], &mask, &aux, 0, a[2], a[3], 0, words) != 1) return "failed";
         std::string text;
         for (int i = 0; i < a[3]; ++i) text += (i ? " " : "") + Hex8(words[i] & mask);
         return text;),
    VERB("setwords", auto words = SeedWords(static_cast<std::uint32_t>(a[4]), a[3]);
         return N(c.addin.SetData(a[0], a[1], 0, a[2], a[3], 0, words.data()));),
    VERB("roi", std::int32_t err = -9, status2 = -9;
         std::string result = N(c.addin.SetROI(a[0], a[1], a[2], a[3], a[4], &err, &status2));
         return result + " " + N(err);),
    VERB("clear", std::int32_t err = -9, status2 = -9;
         std::string result = N(c.addin.ClearROI(a[0], a[1], 0, 0, a[2], &err, &status2));
         return result + " " + N(err);),
    VERB("lock", char owner[128] = "";
         std::string number = N(c.addin.GetLock(a[0], a[1], owner, sizeof owner));
         return number + " " + owner;),
    VERB("setlock", c.addin.SetLock(a[0], a[1], static_cast<std::uint32_t>(a[2]), w.c_str()); return "1";),
    VERB("refresh", c.addin.RefreshLocks(); return "done";),
    VERB("dieini", g_dieAtIniStep = a[0];
         g_iniSteps = 0;
         platform::posix::SetProfileWriteStepHook(&IniStep);
         return "armed";),
    VERB("steps", return N(g_iniSteps);),
    // Keys written straight to the profile, outside the add-in's mutex.
    VERB("inikeys", bool ok = true;
         for (int i = 0; i < 40; ++i) ok &= c.os.ProfileWrite("SHARED", (w + N(i)).c_str(), N(i).c_str(), "HVNACC32.INI");
         return N(ok);),
    VERB("cap", platform::posix::SetDeadOwnerWaitLimit(std::chrono::milliseconds(a[0])); return "set";),
};
#undef VERB

// "verb n... [word...]": the numbers first, the rest is the word.
std::string Client::Do(const std::string& line) {
    std::istringstream in(line);
    std::string verb, word;
    long a[5] = {};
    in >> verb;
    for (int i = 0; i < 5 && in >> a[i]; ++i) {
    }
    in.clear();
    std::getline(in >> std::ws, word);
    auto found = kVerbs.find(verb);
    return found == kVerbs.end() ? "unknown verb: " + line : found->second(*this, a, word);
}

const int kInputs[][2] = {{9, 1}, {9, 2}, {12, 1}, {12, 2}, {12, 3}, {12, 4}};
const char* const kCommands[] = {"SHOW_VERS", "SHOW_FEAT", "SHOW_CONF_MASK", "SHOW_ACTI", "SHOW_CONF", "SHOW_FEAT_EXTE"};

// Random operations on the demo chain. Values and channel words are each
// writer's own (channel words of stopped inputs only, so counting cannot
// change them); locks have many writers, so their pairs run under a hold.
void Client::Work(int slot, int incarnation, int thread) {
    std::mt19937 random(static_cast<std::uint32_t>(incarnation * 7919 + slot * 131 + thread));
    const std::string me = N(slot) + "_" + N(thread);
    for (std::uint32_t seq = 0; !stop; ++seq) {
        unsigned pick = random() % 100;
        const int* t = kInputs[random() % 6];
        const int mcb = t[0], det = t[1];
        std::string where = N(mcb) + " " + N(det) + " ", write, read, want = "1 0";
        bool hold = false;
        if (pick < 20) {
            std::string command = kCommands[random() % (mcb == 9 ? 6 : 4)];
            read = "raw " + where + command;
            want = "1 0 " + ExpectedReply(mcb, det, command);
        } else if (pick < 35) {
            std::string view = N(mcb == 9 ? random() % 2 : 0);
            read = random() % 3 ? "roi " + where + N(random() % 4096) + " " + N(1 + random() % 64) + " " + view
                                : "clear " + where + view;
        } else if (pick < 55) {
            where = det == 1 ? "9 2 " : mcb == 9 ? "12 3 " : "12 4 ";
            std::string start = N(64 + 8 * (2 * slot + thread)) + " 8 ";
            std::uint32_t seed = static_cast<std::uint32_t>(incarnation) * 1000003u + thread * 7777u + seq;
            write = "setwords " + where + start + N(seed);
            read = "words " + where + start;
            want = WordsText(seed, 8);
        } else if (pick < 65) {
            where = N(mcb) + (det % 2 ? " 1 " : " 2 ");
            std::uint32_t number = static_cast<std::uint32_t>(incarnation * 2 + thread) * 100000u + seq % 100000u;
            want = N(number) + " " + SealedValue("L" + N(number), number);
            write = "setlock " + where + want;
            read = "lock " + where;
            hold = true;  // nobody may come between the write and the read
        } else {
            where = mcb == 9 ? where : det % 2 ? "12 1 " : "12 3 ";
            want = SealedValue("v" + N(incarnation) + "." + me + "." + N(seq), seq * 2654435761u + slot);
            write = "set " + where + "K" + me + " " + want;
            read = "value " + where + "K" + me;
            hold = random() % 4 == 0;  // the pair under one hold, nested
        }
        if (hold) Do("hold");
        std::string wrote = write.empty() ? "1" : Do(write), got = Do(read);
        if (hold) Do("release");
        if (wrote != "1" || got != want) {
            ++errors;
            std::fprintf(stderr, "%s / %s: \"%s\", \"%s\", wanted \"%s\"\n", write.c_str(), read.c_str(),
                         wrote.c_str(), got.c_str(), want.c_str());
        }
        ++operations;
    }
}

}  // namespace

// Argument: empty (opens the add-in), "closed", or "<marker> <slot>
// <incarnation>": opens, creates the marker file and works until "stop".
KESTREL_ROLE(Client) {
    Client client;
    std::istringstream arg(channel.arg);
    std::string marker;
    int slot = 0, incarnation = 0;
    std::vector<std::thread> workers;
    if (channel.arg != "closed") client.addin.Open();
    if (arg >> marker >> slot >> incarnation) {
        WriteText(marker, "opened");
        for (int thread = 0; thread < 2; ++thread)
            workers.emplace_back([&client, slot, incarnation, thread] { client.Work(slot, incarnation, thread); });
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

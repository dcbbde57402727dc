// The one client role: the add-in in a process of its own, driven by verbs,
// one a line, each answered with one line.
#include <signal.h>
#include <unistd.h>

#include <cstring>
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
    std::string Do(const std::string& line);
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
    // A word of MCB 16's record, under the mutex or (peek) not.
    VERB("mark", TMutexAccess access(c.addin.mutex); c.addin.pMcbTable[7].dwDetectorWord[0] = a[0]; return "marked";),
    VERB("mark?", TMutexAccess access(c.addin.mutex); return N(c.addin.pMcbTable[7].dwDetectorWord[0]);),
    VERB("peek", return N(c.addin.pMcbTable[7].dwDetectorWord[0]);),
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

}  // namespace

// Argument: empty (opens the add-in) or "closed".
KESTREL_ROLE(Client) {
    Client client;
    if (channel.arg != "closed") client.addin.Open();
    channel.Send("ready");
    for (std::string line; !(line = channel.Receive()).empty() && line != "exit";)
        channel.Send(client.Do(line));
    client.taken.clear();
    client.addin.Close();
    return 0;
}

}  // namespace kestrel_mp

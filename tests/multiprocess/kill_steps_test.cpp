// A client killed at every step of an operation: at each driver request of
// its exchanges, and at each step of an INI write. The victim holds the
// add-in's mutex from before the operation to its death; another client
// is already waiting for it. After each kill that client must get the
// mutex within five seconds (abandoned), its next exchange with the unit must
// come out right, the table must be as the probe left it with selections
// that describe the units, and the value being written must be the old one
// or the new one, never anything else.
//
// KESTREL_KILL_STRIDE=1 kills at every request of every operation. By
// default a selection and a stored value in the unit are killed at every
// request, a region with a view at every 5th, channel words at every 3rd,
// and the start-up (some 2400 requests) at 60 points spread over it.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "addin/kestrel.h"
#include "multiprocess/observed_os.h"
#include "multiprocess/served_system.h"
#include "multiprocess/soak_client.h"
#include "platform/posix/ini_text.h"
#include "platform/posix/profile.h"
#include "posix/child_process.h"
#include "sim/unit.h"

namespace {

using namespace kestrel_test;

// --- the victim -------------------------------------------------------------

int g_dieAtStep = 0;
int g_steps = 0;
bool g_stepBySignal = false;
ChildChannel* g_victimChannel = nullptr;

// Tells the parent the moment of death, which follows at once.
void LastWords() { g_victimChannel->Send("dying " + std::to_string(MonotonicNs())); }

void DieAtProfileStep(const char*) {
    if (++g_steps == g_dieAtStep) {
        LastWords();
        if (g_stepBySignal) ::kill(::getpid(), SIGKILL);
        ::_exit(86);
    }
}

std::vector<std::uint32_t> Words(const std::string& seed, std::size_t count) {
    std::vector<std::uint32_t> all = SoakDataWords(static_cast<std::uint32_t>(std::strtoul(seed.c_str(), nullptr, 10)));
    all.resize(count);
    return all;
}

// Argument: "<operation> <n> <signal 0|1> <value>". Opens the add-in
// (except for the start-up itself), prepares the selection the operation
// must change, takes the mutex, says "holding", and on "go" runs the
// operation dying at driver request n (or INI write step n for the INI
// operations); n = 0: lives, and says "done <requests> <steps>".
KESTREL_CHILD_ROLE(KillVictim) {
    ObservedOs& os = InstallObservedOs();
    os.SetFastPolling(true);
    g_victimChannel = &channel;
    os.lastWords = &LastWords;
    std::istringstream args(channel.arg());
    std::string op, value;
    std::uint64_t n = 0;
    int signal = 0;
    if (!(args >> op >> n >> signal >> value)) return 2;
    Kestrel addin;
    if (op != "startup") {
        addin.Open();
        std::int32_t err = 0;
        char response[64];
        if (op == "roi9") {
            addin.SetROI(9, 1, 10, 5, 0, &err, nullptr);
        } else if (op == "value9") {
            addin.SendCommand(9, 1, "SHOW_VERS", sizeof response, response, nullptr, &err, nullptr);
        } else if (op == "value9same") {
            addin.SendCommand(9, 2, "SHOW_VERS", sizeof response, response, nullptr, &err, nullptr);
        } else if (op == "data12") {
            addin.SendCommand(12, 1, "SHOW_VERS", sizeof response, response, nullptr, &err, nullptr);
        }
    }
    std::unique_ptr<TMutexAccess> hold(new TMutexAccess(addin.mutex));
    channel.Send("holding");
    if (!channel.Expect("go")) return 0;
    const bool ini = op == "value12" || op == "lock12";
    os.ResetRequests();
    if (ini) {
        g_dieAtStep = static_cast<int>(n);
        g_stepBySignal = signal != 0;
        platform::posix::SetProfileWriteStepHook(&DieAtProfileStep);
    } else {
        os.DieAtRequest(n, signal != 0);
    }
    std::int32_t err = 0;
    if (op == "value9" || op == "value9same") {
        addin.SetAppData(9, 2, "KX", value.c_str());
    } else if (op == "roi9") {
        addin.SetROI(9, 2, 100, 50, 1, &err, nullptr);
    } else if (op == "data12") {
        std::vector<std::uint32_t> words = Words(value, 4);
        addin.SetData(12, 3, 0, 200, 4, 0, words.data());
    } else if (op == "value12") {
        addin.SetAppData(12, 3, "KI", value.c_str());
    } else if (op == "lock12") {
        addin.SetLock(12, 3, static_cast<std::uint32_t>(std::strtoul(value.c_str() + 1, nullptr, 10)),
                      value.c_str());
    } else if (op == "startup") {
        addin.Open();
    } else {
        return 3;
    }
    channel.Send("done " + std::to_string(os.Requests()) + " " + std::to_string(g_steps));
    hold.reset();
    platform::posix::SetProfileWriteStepHook(nullptr);
    channel.Receive();
    addin.Close();
    return 0;
}

// The client that outlives the victims. Orders, one per line:
//   wait                          take the mutex (held across orders) ->
//                                 "abandoned|acquired <monotonic ns>"
//   release                       let it go
//   raw M D COMMAND               -> "<ok> <LocalErr> <response>"
//   value M D NAME                -> the value or <missing>
//   set M D NAME VALUE            -> 1 or 0
//   words M D START COUNT         -> the words, data bits only, in hex
//   setwords M D START SEED       -> the SetData result (4 words from SEED)
//   roi M D START COUNT VIEW      -> "<result> <LocalErr>"
//   refresh                       RefreshLocks
//   lock M D                      -> "<number> <owner>"
KESTREL_CHILD_ROLE(KillSurvivor) {
    ObservedOs& os = InstallObservedOs();
    os.SetFastPolling(true);
    Kestrel addin;
    addin.Open();
    channel.Send("opened");
    std::unique_ptr<TMutexAccess> hold;
    while (true) {
        std::string line = channel.Receive();
        std::istringstream order(line);
        std::string verb;
        if (!(order >> verb) || verb == "exit") break;
        int mcb = 0, det = 0;
        std::string answer;
        if (verb == "wait") {
            hold.reset(new TMutexAccess(addin.mutex));
            std::int64_t at = MonotonicNs();
            answer = std::string(os.LastWait() == platform::WaitResult::Abandoned ? "abandoned " : "acquired ") +
                     std::to_string(at);
        } else if (verb == "release") {
            hold.reset();
            answer = "released";
        } else if (verb == "raw" && order >> mcb >> det) {
            std::string command;
            order >> command;
            char response[256] = "";
            std::int32_t err = -9;
            bool ok = addin.SendCommand(mcb, det, command.c_str(), sizeof response, response, nullptr, &err, nullptr);
            answer = std::to_string(ok) + " " + std::to_string(err) + " " + response;
        } else if (verb == "value" && order >> mcb >> det) {
            std::string name;
            order >> name;
            char value[200];
            addin.GetAppData(mcb, det, name.c_str(), "<missing>", value, sizeof value);
            answer = value;
        } else if (verb == "set" && order >> mcb >> det) {
            std::string name, value;
            order >> name >> value;
            answer = addin.SetAppData(mcb, det, name.c_str(), value.c_str()) ? "1" : "0";
        } else if (verb == "words" && order >> mcb >> det) {
            std::uint32_t start = 0, mask = 0, aux = 0, words[8] = {};
            int count = 0;
            order >> start >> count;
            if (addin.GetData(mcb, det, &mask, &aux, 0, start, count, 0, words) != 1) answer = "failed";
            if (answer.empty()) {
                for (int i = 0; i < count; ++i) {
                    char hex[16];
                    std::snprintf(hex, sizeof hex, "%08x ", words[i] & mask);
                    answer += hex;
                }
            }
        } else if (verb == "setwords" && order >> mcb >> det) {
            std::uint32_t start = 0;
            std::string seed;
            order >> start >> seed;
            std::vector<std::uint32_t> words = Words(seed, 4);
            answer = std::to_string(addin.SetData(mcb, det, 0, start, 4, 0, words.data()));
        } else if (verb == "roi" && order >> mcb >> det) {
            std::uint32_t start = 0, count = 0;
            std::int32_t view = 0, err = -9;
            order >> start >> count >> view;
            std::int32_t result = addin.SetROI(mcb, det, start, count, view, &err, nullptr);
            answer = std::to_string(result) + " " + std::to_string(err);
        } else if (verb == "refresh") {
            addin.RefreshLocks();
            answer = "done";
        } else if (verb == "lock" && order >> mcb >> det) {
            char owner[128] = "";
            std::uint32_t number = addin.GetLock(mcb, det, owner, sizeof owner);
            answer = std::to_string(number) + " " + owner;
        } else {
            answer = "unknown order: " + line;
        }
        channel.Send(answer);
    }
    hold.reset();
    addin.Close();
    return 0;
}

// --- the parent -------------------------------------------------------------

std::string Masked(const std::vector<std::uint32_t>& words) {
    std::string text;
    for (std::uint32_t word : words) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08x ", word & 0x00FFFFFF);
        text += hex;
    }
    return text;
}

struct Figures {
    int kills = 0;
    int requestsInOperation = 0;
    std::vector<double> recoveryMs;
    std::string Summary() const {
        std::vector<double> sorted = recoveryMs;
        std::sort(sorted.begin(), sorted.end());
        char text[200];
        if (sorted.empty()) return "no kills";
        std::snprintf(text, sizeof text, "%d kills (operation of %d steps); the waiting client had the "
                      "mutex after each death in median %.2f ms, max %.2f ms",
                      kills, requestsInOperation, sorted[sorted.size() / 2], sorted.back());
        return text;
    }
};

class KillSteps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(system.serving());
        table = &system.Table();
        survivor.reset(new Child("KillSurvivor", system.dir()));
        ASSERT_TRUE(survivor->Expect("opened", 30000));
        ASSERT_TRUE(system.Lock());
        unit9.reset(new ProbedRecord(table->records[0]));
        unit12.reset(new ProbedRecord(table->records[3]));
        system.Unlock();
        ASSERT_EQ(unit9->nDetectors, 2) << unit9->Describe();
        ASSERT_EQ(unit12->nDetectors, 4) << unit12->Describe();
    }

    void TearDown() override {
        if (survivor) {
            survivor->Send("exit");
            EXPECT_EQ(survivor->Wait(), 0) << survivor->Log();
        }
        BracketChecker::Report brackets = system.Brackets();
        EXPECT_EQ(brackets.violations, 0u);
        for (const std::string& example : brackets.examples) ADD_FAILURE() << example;
        for (int mcb : {9, 12}) {
            std::uint64_t count = 0;
            for (const std::string& bad : system.MalformedCommands(mcb, &count))
                ADD_FAILURE() << "MCB " << mcb << " took \"" << bad << "\"";
        }
    }

    std::string Ask(const std::string& order) {
        survivor->Send(order);
        return survivor->Receive(30000);
    }

    // Runs the operation once without dying; the number of its driver
    // requests (or INI steps).
    int CountSteps(const std::string& op, bool ini, const std::string& value) {
        Child victim("KillVictim", system.dir(), op + " 0 0 " + value);
        if (!victim.Expect("holding", 30000)) return 0;
        victim.Send("go");
        std::istringstream done(victim.Receive(30000));
        std::string word;
        int requests = 0, steps = 0;
        done >> word >> requests >> steps;
        EXPECT_EQ(word, "done") << victim.Log();
        victim.Send("exit");
        EXPECT_EQ(victim.Wait(), 0) << victim.Log();
        return ini ? steps : requests;
    }

    // Kills a victim at step n; true when the survivor then had the mutex
    // (it holds it on return, for the checks).
    bool KillAt(const std::string& op, int n, const std::string& value, Figures* figures) {
        Child victim("KillVictim", system.dir(), op + " " + std::to_string(n) + " " + std::to_string(n % 2) + " " + value);
        if (!victim.Expect("holding", 30000)) return false;
        survivor->Send("wait");
        victim.Send("go");
        std::istringstream words(victim.Receive(30000));
        std::string dying;
        std::int64_t died = 0;
        words >> dying >> died;
        EXPECT_EQ(dying, "dying") << op << " victim at step " << n << "\n" << victim.Log();
        int code = victim.Wait(30000);
        EXPECT_TRUE(code == 86 || code == 128 + SIGKILL)
            << op << " victim at step " << n << " ended with " << code << "\n" << victim.Log();
        std::istringstream got(survivor->Receive(30000));
        std::string how;
        std::int64_t at = 0;
        got >> how >> at;
        EXPECT_EQ(how, "abandoned") << op << " step " << n;
        double ms = (at - died) / 1e6;
        EXPECT_GT(at, died) << "the survivor had the mutex before the victim died";
        // A hang detector: the hand-over itself may wait up to a second for
        // the dead owner to finish exiting, longer than that under a
        // sanitizer on a loaded machine.
        EXPECT_LT(ms, 5000.0) << op << " step " << n;
        figures->recoveryMs.push_back(ms);
        ++figures->kills;
        return how == "abandoned";
    }

    // The table is as the probe left it.
    void ExpectTableIntact(const std::string& where) {
        EXPECT_TRUE(ProbedRecord(table->records[0]) == *unit9)
            << where << ": " << ProbedRecord(table->records[0]).Describe() << "\nwas " << unit9->Describe();
        EXPECT_TRUE(ProbedRecord(table->records[3]) == *unit12)
            << where << ": " << ProbedRecord(table->records[3]).Describe() << "\nwas " << unit12->Describe();
    }

    void ExpectSelectionsTrue(const std::string& where) {
        EXPECT_EQ(system.SelectionMismatch(), "") << where;
    }

    std::vector<int> Steps(int total, int stride, int offset) {
        std::vector<int> steps;
        for (int n = 1; n <= total; ++n)
            if (stride <= 1 || n % stride == offset % stride) steps.push_back(n);
        return steps;
    }

    int IniTemporaries() {
        int found = 0;
        if (DIR* listing = ::opendir(system.dir().c_str())) {
            while (const dirent* entry = ::readdir(listing))
                if (std::string(entry->d_name).rfind("HVNACC32.INI.tmp", 0) == 0) ++found;
            ::closedir(listing);
        }
        return found;
    }

    int Stride(int fallback) { return static_cast<int>(EnvNumber("KESTREL_KILL_STRIDE", fallback)); }

    void StoreInTheUnit(bool selection, const char* what);

    void Print(const char* what, const Figures& figures) {
        std::printf("[ figures  ] %s: %s\n", what, figures.Summary().c_str());
    }

    ServedSystem system;
    SharedState* table = nullptr;
    std::unique_ptr<Child> survivor;
    std::unique_ptr<ProbedRecord> unit9, unit12;
};

// Kills the victim of "value9" (select detector 2, then store a value in
// the unit) at requests first to last.
void KillSteps::StoreInTheUnit(bool selection, const char* what) {
    std::string old = SealedValue("s0", 5, 1);
    Figures figures;
    const int total = CountSteps("value9", false, SealedValue("count", 3, 2));
    const int storing = CountSteps("value9same", false, SealedValue("count", 3, 3));
    ASSERT_GT(storing, 40) << "storing a value takes many requests";
    ASSERT_GT(total - storing, 40) << "so does selecting an input";
    ASSERT_EQ(Ask("set 9 2 KX " + old), "1");
    // The selection exchange comes first, the storing one after it.
    const int first = selection ? 1 : total - storing + 1;
    const int last = selection ? total - storing : total;
    figures.requestsInOperation = last - first + 1;
    for (int n = first; n <= last; ++n) {
        std::string fresh = SealedValue("n" + std::to_string(n), n % 20, n);
        if (!KillAt("value9", n, fresh, &figures)) break;
        std::string where = "killed at request " + std::to_string(n);
        ExpectTableIntact(where);
        // The next exchange with the unit recovers and reaches the input it
        // names: detector 1's masks from detector 1.
        EXPECT_EQ(Ask("raw 9 1 SHOW_CONF_MASK"), "1 0 " + ExpectedReply(9, 1, "SHOW_CONF_MASK")) << where;
        std::string now = Ask("value 9 2 KX");
        EXPECT_TRUE(now == old || now == fresh) << where << ": \"" << now << "\"";
        EXPECT_EQ(system.UnitValue(9, 1, "KX"), "<none>") << where << ": stored under the wrong input";
        old = SealedValue("s" + std::to_string(n), n % 7, n);
        EXPECT_EQ(Ask("set 9 2 KX " + old), "1") << where;
        EXPECT_EQ(system.UnitValue(9, 2, "KX"), old) << where;
        ExpectSelectionsTrue(where);
        EXPECT_EQ(Ask("release"), "released");
        if (HasFailure()) break;
    }
    Print(what, figures);
}

TEST_F(KillSteps, AKillAtEveryRequestOfASelectionLeavesNoStaleSelection) {
    StoreInTheUnit(true, "kill at every request of SET_SEGM 2 on MCB 9");
}

TEST_F(KillSteps, AValueStoredInTheUnitIsOldOrNewAfterAKillAtEveryRequest) {
    StoreInTheUnit(false, "kill at every request of SET_DATA_APP on MCB 9");
}

TEST_F(KillSteps, ARegionWithAViewRecoversAfterAKillAtItsRequests) {
    Figures figures;
    figures.requestsInOperation = CountSteps("roi9", false, "x");
    ASSERT_GT(figures.requestsInOperation, 50);
    for (int n : Steps(figures.requestsInOperation, Stride(5), 1)) {
        if (!KillAt("roi9", n, "x", &figures)) break;
        std::string where = "killed at request " + std::to_string(n);
        ExpectTableIntact(where);
        EXPECT_EQ(Ask("raw 9 1 SHOW_CONF_MASK"), "1 0 " + ExpectedReply(9, 1, "SHOW_CONF_MASK")) << where;
        EXPECT_EQ(Ask("roi 9 1 10 5 0"), "1 0") << where;
        // The view the table trusts is the one the unit has.
        ExpectSelectionsTrue(where);
        EXPECT_EQ(Ask("release"), "released");
        if (HasFailure()) break;
    }
    Print("kill at requests of SET_SEGM + SET_VIEW + SET_ROI on MCB 9", figures);
}

TEST_F(KillSteps, ChannelWordsAreOldOrNewWordByWordAfterAKillAtTheirRequests) {
    ASSERT_EQ(Ask("setwords 12 3 200 1"), "1");
    std::vector<std::uint32_t> old = SoakDataWords(1);
    old.resize(4);
    std::vector<std::uint32_t> device1;
    {
        std::lock_guard<std::mutex> guard(system.chain().mutex());
        for (std::uint32_t ch = 200; ch < 204; ++ch)
            device1.push_back(*system.chain().unit(12)->state().word(1, ch));
    }
    Figures figures;
    figures.requestsInOperation = CountSteps("data12", false, "2");
    ASSERT_EQ(Ask("setwords 12 3 200 1"), "1");
    ASSERT_GT(figures.requestsInOperation, 20);
    for (int n : Steps(figures.requestsInOperation, Stride(3), 2)) {
        std::uint32_t seed = 1000 + static_cast<std::uint32_t>(n);
        if (!KillAt("data12", n, std::to_string(seed), &figures)) break;
        std::string where = "killed at request " + std::to_string(n);
        ExpectTableIntact(where);
        // Device 1 is device 1, whatever the victim had selected.
        EXPECT_EQ(Ask("words 12 1 200 4"), Masked(device1)) << where;
        std::vector<std::uint32_t> fresh = SoakDataWords(seed);
        std::istringstream words(Ask("words 12 3 200 4"));
        for (int i = 0; i < 4; ++i) {
            std::string word;
            words >> word;
            std::uint32_t value = static_cast<std::uint32_t>(std::strtoul(word.c_str(), nullptr, 16));
            EXPECT_TRUE(value == (old[i] & 0x00FFFFFF) || value == (fresh[i] & 0x00FFFFFF))
                << where << ": word " << i << " is " << word;
        }
        ASSERT_EQ(Ask("setwords 12 3 200 " + std::to_string(seed + 500)), "1");
        old = SoakDataWords(seed + 500);
        old.resize(4);
        ExpectSelectionsTrue(where);
        EXPECT_EQ(Ask("release"), "released");
        if (HasFailure()) break;
    }
    Print("kill at requests of SET_DEVI + SetData on MCB 12", figures);
}

TEST_F(KillSteps, AnIniValueIsOldOrNewAfterAKillAtEveryStepOfTheWrite) {
    ASSERT_EQ(Ask("set 12 1 KCANARY " + SealedValue("canary", 4, 9)), "1");
    std::string old = SealedValue("i0", 3, 3);
    ASSERT_EQ(Ask("set 12 3 KI " + old), "1");
    Figures figures;
    figures.requestsInOperation = CountSteps("value12", true, SealedValue("count", 3, 2));
    ASSERT_EQ(Ask("set 12 3 KI " + old), "1");
    EXPECT_GE(figures.requestsInOperation, 8) << "the steps of one INI write";
    for (int n = 1; n <= figures.requestsInOperation; ++n) {
        std::string fresh = SealedValue("k" + std::to_string(n), n, n);
        if (!KillAt("value12", n, fresh, &figures)) break;
        std::string where = "killed at INI step " + std::to_string(n);
        std::string now = Ask("value 12 3 KI");
        EXPECT_TRUE(now == old || now == fresh) << where << ": \"" << now << "\"";
        // The file is whole: the other values and the port setting are there.
        platform::posix::IniText ini(ReadText(system / "HVNACC32.INI"));
        std::string lpt, canary;
        EXPECT_TRUE(ini.Get("CONFIG", "LPT", &lpt) && lpt == "1") << where;
        EXPECT_TRUE(ini.Get("M12S01", "KCANARY", &canary) && SealIntact(canary)) << where;
        old = SealedValue("j" + std::to_string(n), 2, n);
        EXPECT_EQ(Ask("set 12 3 KI " + old), "1") << where;
        // The next write cleared whatever temporary the dead writer left.
        EXPECT_EQ(IniTemporaries(), 0) << where;
        EXPECT_EQ(Ask("release"), "released");
        if (HasFailure()) break;
    }
    Print("kill at every step of an INI write (MCB 12 value)", figures);
}

TEST_F(KillSteps, ALockIsWholeAfterAKillAtEveryStepOfItsIniWrite) {
    Figures figures;
    figures.requestsInOperation = CountSteps("lock12", true, "L7");
    std::string old = "7 L7";
    EXPECT_GE(figures.requestsInOperation, 8);
    for (int n = 1; n <= figures.requestsInOperation; ++n) {
        std::string owner = "L" + std::to_string(100 + n);
        if (!KillAt("lock12", n, owner, &figures)) break;
        std::string where = "killed at INI step " + std::to_string(n);
        // The stored text decides; a refresh makes the table say the same.
        EXPECT_EQ(Ask("refresh"), "done");
        std::string now = Ask("lock 12 3");
        EXPECT_TRUE(now == old || now == std::to_string(100 + n) + " " + owner) << where << ": \"" << now << "\"";
        old = now;
        EXPECT_EQ(Ask("release"), "released");
        if (HasFailure()) break;
    }
    Print("kill at every step of a lock's INI write", figures);
}

TEST_F(KillSteps, AStartUpKilledAtItsRequestsLeavesTheTableWhole) {
    Figures figures;
    figures.requestsInOperation = CountSteps("startup", false, "x");
    ASSERT_GT(figures.requestsInOperation, 200);
    int stride = Stride(std::max(1, figures.requestsInOperation / 60));
    for (int n : Steps(figures.requestsInOperation, stride, 3)) {
        if (!KillAt("startup", n, "x", &figures)) break;
        std::string where = "killed at start-up request " + std::to_string(n);
        ExpectTableIntact(where);
        EXPECT_EQ(Ask("raw 9 2 SHOW_CONF_MASK"), "1 0 " + ExpectedReply(9, 2, "SHOW_CONF_MASK")) << where;
        EXPECT_EQ(Ask("raw 12 4 SHOW_ACTI"), "1 0 " + ExpectedReply(12, 4, "SHOW_ACTI")) << where;
        std::string value = SealedValue("u" + std::to_string(n), 3, n);
        EXPECT_EQ(Ask("set 9 2 KU " + value), "1") << where;
        EXPECT_EQ(system.UnitValue(9, 2, "KU"), value) << where << ": not stored in the unit";
        ExpectSelectionsTrue(where);
        EXPECT_EQ(Ask("release"), "released");
        if (HasFailure()) break;
    }
    Print("kill at requests of a start-up (probe of both units)", figures);
}

}  // namespace

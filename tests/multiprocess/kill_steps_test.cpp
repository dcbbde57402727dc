// A client killed at the steps of an operation: at its driver requests (the service kills it as it takes
// the n-th) or at the steps of an INI write (it ends itself there). It holds the add-in's mutex from before
// the operation; another client already waits for it, and must then have it, find the table as the probe
// left it and the selections true, and see the value being written old or new, never anything else. By
// default each operation is killed at about six steps spread over it; KESTREL_KILL_STRIDE=1 kills at every
// one.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <sstream>

#include "multiprocess/harness.h"
#include "platform/posix/ini_text.h"
#include "sim/unit.h"

namespace {

using namespace kestrel_test;
using namespace kestrel_mp;

struct KillStep {
    const char* name;
    const char* victimArg;  // "closed": the operation is the start-up itself
    const char* prepare;    // run by the victim before it takes the mutex
    const char* operation;  // '%' stands for the new value
    bool ini;               // killed at INI write steps, not driver requests
    const char* settle;     // run by the survivor first, once it has the mutex
    const char* read;       // what the survivor reads back: the old value or the new
    // Checks after each kill, with the survivor holding the mutex.
    void (*check)(ServedSystem&, Child& survivor, const std::string& where);
};

// The new value of step n, and what `read` then gives.
std::string Fresh(const KillStep& row, int n) {
    if (std::strstr(row.operation, "setwords")) return std::to_string(1000 + n);
    if (std::strstr(row.operation, "setlock")) return std::to_string(100 + n) + " L" + std::to_string(100 + n);
    return SealedValue("n" + std::to_string(n), n);
}
std::string ReadBack(const KillStep& row, int n) {
    return std::strstr(row.operation, "setwords") ? WordsText(1000 + n, 4) : Fresh(row, n);
}
std::string Fill(std::string text, const std::string& value) {
    std::size_t at = text.find('%');
    return at == std::string::npos ? text : text.replace(at, 1, value);
}

#define ExpectAnswer(client, verb, answer, where) EXPECT_EQ((client).Ask(verb), answer) << (where) << ": " << (verb)
// The next exchanges reach the inputs they name, whatever the victim
// selected, and a value lands in the unit.
void ExchangesRecover(ServedSystem& system, Child& survivor, const std::string& where) {
    ExpectAnswer(survivor, "raw 9 1 SHOW_CONF_MASK", "1 0 " + ExpectedReply(9, 1, "SHOW_CONF_MASK"), where);
    ExpectAnswer(survivor, "raw 12 4 SHOW_ACTI", "1 0 " + ExpectedReply(12, 4, "SHOW_ACTI"), where);
    ExpectAnswer(survivor, "roi 9 1 10 5 0", "1 0", where);
    std::string value = SealedValue(where, 7);
    ExpectAnswer(survivor, "set 9 2 KX " + value, "1", where);
    EXPECT_EQ(system.UnitValue(9, 2, "KX"), value) << where;
    EXPECT_EQ(system.UnitValue(9, 1, "KX"), "<none>") << where << ": stored under the other input";
}

const KillStep kSteps[] = {
    {"ValueInTheUnit", "", "raw 9 1 SHOW_VERS", "set 9 2 KX %", false, "", "value 9 2 KX", ExchangesRecover},
    {"RegionWithAView", "", "roi 9 1 10 5 0", "roi 9 2 100 50 1", false, "", "", ExchangesRecover},
    {"ChannelWords", "", "raw 12 1 SHOW_VERS", "setwords 12 3 200 4 %", false, "", "words 12 3 200 4",
     [](ServedSystem& system, Child& survivor, const std::string& where) {
         ExchangesRecover(system, survivor, where);
         // Device 1's words are device 1's, whatever the victim had selected.
         std::string device1;
         {
             std::lock_guard<std::mutex> guard(system.chain().mutex());
             for (std::uint32_t ch = 200; ch < 204; ++ch)
                 device1 += (ch > 200 ? " " : "") + Hex8(*system.chain().unit(12)->state().word(1, ch) & 0x00FFFFFF);
         }
         ExpectAnswer(survivor, "words 12 1 200 4", device1, where);
     }},
    {"IniValue", "", "", "set 12 3 KI %", true, "", "value 12 3 KI", [](ServedSystem& system, Child& survivor,
                                                                        const std::string& where) {
         // The file is whole: the other values and the port setting are there.
         platform::posix::IniText ini(ReadText(system / "HVNACC32.INI"));
         std::string lpt, canary;
         EXPECT_TRUE(ini.Get("CONFIG", "LPT", &lpt) && lpt == "1") << where;
         EXPECT_TRUE(ini.Get("M12S01", "KCANARY", &canary) && SealIntact(canary)) << where << ": " << canary;
         ExpectAnswer(survivor, "set 12 3 KI " + SealedValue(where, 3), "1", where);
         // That write cleared whatever temporary the dead writer left.
         DIR* listing = ::opendir(system.dir().c_str());
         while (const dirent* entry = ::readdir(listing))
             EXPECT_NE(std::string(entry->d_name).rfind("HVNACC32.INI.tmp", 0), 0u) << where << ": " << entry->d_name;
         ::closedir(listing);
     }},
    // The stored text decides; a refresh makes the table say the same.
    {"LockInTheIni", "", "", "setlock 12 3 %", true, "refresh", "lock 12 3", [](ServedSystem&, Child&, const std::string&) {}},
    {"StartUp", "closed", "", "open", false, "", "", ExchangesRecover},
};

void PrintTo(const KillStep& row, std::ostream* os) { *os << row.name; }

class KillSteps : public ::testing::TestWithParam<KillStep> {};

// Starts a victim holding the mutex, ready for the operation.
std::unique_ptr<Child> Victim(ServedSystem& system, const KillStep& row) {
    auto victim = std::make_unique<Child>("Client", system.dir(), row.victimArg);
    EXPECT_TRUE(victim->Expect("ready"));
    if (*row.prepare) victim->Ask(row.prepare);
    EXPECT_EQ(victim->Ask("take"), "taken");
    return victim;
}

TEST_P(KillSteps, TheOthersGoOnAndTheValueIsOldOrNew) {
    const KillStep& row = GetParam();
    ServedSystem system;
    Child survivor("Client", system.dir());
    ASSERT_TRUE(survivor.Expect("ready"));
    ASSERT_EQ(survivor.Ask("set 12 1 KCANARY " + SealedValue("canary", 9)), "1");
    system.Lock();
    const std::string probed9 = system.Probed(9), probed12 = system.Probed(12);
    system.Unlock();
    ASSERT_NE(probed9.rfind("2 type", 0), std::string::npos) << probed9;

    // The operation once, whole: how many steps it has.
    auto counted = Victim(system, row);
    system.KillAtRequest(counted->pid(), 0);
    if (row.ini) counted->Ask("dieini 0");
    counted->Ask(Fill(row.operation, Fresh(row, 0)));
    const int total = row.ini ? std::stoi(counted->Ask("steps")) : system.Requests();
    counted->Ask("release");
    counted->Send("exit");
    ASSERT_EQ(counted->Wait(), 0) << counted->Log();
    ASSERT_GE(total, row.ini ? 8 : 20) << "steps of " << row.operation;

    const int stride = static_cast<int>(EnvNumber("KESTREL_KILL_STRIDE", std::max(1, total / 6)));
    for (int n = 1 + stride / 2; n <= total && !HasFailure(); n += stride) {
        const std::string where = std::string(row.name) + " killed at step " + std::to_string(n);
        const std::string old = *row.read ? survivor.Ask(row.read) : "";
        auto victim = Victim(system, row);
        survivor.Send("take");
        ASSERT_TRUE(survivor.BlockedInMutex());
        if (row.ini) victim->Ask("dieini " + std::to_string(n));
        else system.KillAtRequest(victim->pid(), n);
        victim->Send(Fill(row.operation, Fresh(row, n)));
        const int code = victim->Wait();
        EXPECT_TRUE(code == 86 || code == 128 + SIGKILL) << where << ": ended with " << code << "\n" << victim->Log();
        ASSERT_EQ(survivor.Receive(), "taken") << where;
        if (*row.settle) survivor.Ask(row.settle);
        EXPECT_EQ(system.Probed(9), probed9) << where;
        EXPECT_EQ(system.Probed(12), probed12) << where;
        if (*row.read) {
            // Channel words land one by one: each is old or new.
            const std::string answer = survivor.Ask(row.read);
            std::istringstream now(answer), was(old), fresh(ReadBack(row, n));
            const char split = std::strstr(row.operation, "setwords") ? ' ' : '\n';
            EXPECT_FALSE(answer.empty()) << where;
            for (std::string a, b, c; std::getline(now, a, split) && std::getline(was, b, split) &&
                                      std::getline(fresh, c, split);)
                EXPECT_TRUE(a == b || a == c) << where << ": \"" << a << "\", was \"" << b << "\"";
        }
        row.check(system, survivor, where);
        for (const std::string& fault : system.Faults()) ADD_FAILURE() << where << ": " << fault;
        ASSERT_EQ(survivor.Ask("release"), "released");
    }
    survivor.Send("exit");
    EXPECT_EQ(survivor.Wait(), 0) << survivor.Log();
}

INSTANTIATE_TEST_SUITE_P(Operations, KillSteps, ::testing::ValuesIn(kSteps),
                         [](const ::testing::TestParamInfo<KillStep>& info) { return std::string(info.param.name); });

}  // namespace

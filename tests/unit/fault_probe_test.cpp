// The probe of a unit under faults: each of its exchanges in turn meets a
// unit that stays silent, ends with a bad record, floods the mailbox,
// garbles its reply or refuses, and the record keeps exactly what the
// other exchanges taught it. Then faults that hold for the whole start-up,
// through InitDetectors and the re-probe of IsValidDetector.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "discovery/probe.h"
#include "host/guess.h"
#include "sim/demo.h"
#include "sim/status_record.h"
#include "support/rig.h"

namespace {

constexpr int kMcb = 9;
const std::string kCommErr = "mcb_dialog() Comm err waiting for resp.\r\n";
const std::string kRetries = "mcb_dialog() Failure after 2 retries!\r\n";
const std::string kNoRecord = "mcb_dialog() Timeout waiting for %!\r\n";
const std::string kBad = "mcb_dialog() found bad %.\r\n";
const std::string kNoMailbox = "Kestrel::mcb_dialog(nMcb=9) No Mailbox or hardware not open!\r\n";
const std::vector<std::string> kLines = {kCommErr, kRetries, kNoRecord, kBad, kNoMailbox};

using Messages = std::vector<std::string>;

struct ProbeRig {
    fake::Rig rig;
    sim::Unit* unit = nullptr;

    ProbeRig() {
        unit = rig.chain->addUnit(kMcb, sim::DemoSegmentUnit(fake::kEpoch));
        rig.ConnectNt();
        rig.OpenDriverOnly();
        Process().nDebugLevel = 1;
        rig.os.requestCostMicros = 1000;
    }
    McbRecord& record() { return rig.Record(kMcb); }
};

// A clean probe of the demo's segment unit, and the messages of each of
// its exchanges (the zero-length command posts none): SHOW_VERS 0,
// SHOW_CONF 1, SET_SEGM 1 2, SHOW_FEAT 3, SHOW_FEAT_EXTE 4,
// SHOW_CONF_MASK 5, SET_SEGM 2 6, SHOW_FEAT 7, SHOW_FEAT_EXTE 8,
// SHOW_CONF_MASK 9.
struct CleanProbe {
    McbRecord record{};
    std::vector<Messages> exchanges;

    CleanProbe() {
        ProbeRig r;
        ProbeMcb(kMcb);
        record = r.record();
        Messages current;
        for (const std::string& message : r.unit->posted()) {
            current.push_back(message);
            if (message.size() >= 10 && message.size() <= 12 && message[0] == '%') {
                exchanges.push_back(current);
                current.clear();
            }
        }
    }
};

const CleanProbe& Clean() {
    static const CleanProbe clean;
    return clean;
}

struct Defaults {
    std::array<std::uint32_t, FEATURE_WORDS> words{};
    std::uint32_t dataMask = 0, auxMask = 0;
    Defaults(const char* version, int det) {
        DefaultGuessFeatures(version, det, words.data(), FEATURE_WORDS);
        DefaultGuessMasks(version, det, &dataMask, &auxMask);
    }
};

// Detector d's words [first, last) and, when asked, its masks, as in `want`.
void ExpectWords(const McbRecord& got, const McbRecord& want, int det, int first, int last, bool masks) {
    for (int w = first; w < last; ++w) EXPECT_EQ(got.dwFeatures[det - 1][w], want.dwFeatures[det - 1][w]) << w;
    if (masks) {
        EXPECT_EQ(got.dwDataMask[det - 1], want.dwDataMask[det - 1]);
        EXPECT_EQ(got.dwAuxMask[det - 1], want.dwAuxMask[det - 1]);
    }
}

void ExpectDefaults(const McbRecord& got, int det, const char* version) {
    Defaults d(version, det);
    for (int w = 0; w < FEATURE_WORDS; ++w) EXPECT_EQ(got.dwFeatures[det - 1][w], d.words[w]) << w;
    EXPECT_EQ(got.dwDataMask[det - 1], d.dataMask);
    EXPECT_EQ(got.dwAuxMask[det - 1], d.auxMask);
}

// Everything a clean probe learns: words 0 to 7 and the masks from the
// unit, words 8 to 15 from the host defaults.
void ExpectClean(const McbRecord& got) {
    const sim::UnitConfig unit = sim::DemoSegmentUnit(fake::kEpoch);
    for (int det = 1; det <= 2; ++det) {
        const sim::DetectorConfig& config = unit.detector[static_cast<std::size_t>(det - 1)];
        Defaults defaults("0919-005", det);
        for (int w = 0; w < FEATURE_WORDS; ++w)
            EXPECT_EQ(got.dwFeatures[det - 1][w], w < 8 ? config.features[static_cast<std::size_t>(w)] : defaults.words[w])
                << "detector " << det << " word " << w;
        EXPECT_EQ(got.dwDataMask[det - 1], config.dataMask) << "detector " << det;
        EXPECT_EQ(got.dwAuxMask[det - 1], config.auxMask) << "detector " << det;
    }
    EXPECT_EQ(got.nMailboxType, 5);
    EXPECT_EQ(got.bResponding, 1);
    EXPECT_STREQ(got.szVersion, "0919-005");
    EXPECT_EQ(got.nDetectors, 2);
    EXPECT_EQ(got.wTotalChannels, 8192);
    EXPECT_EQ(got.wChannels[0], 4096);
    EXPECT_EQ(got.wChannels[1], 4096);
}

enum class Kind { Silent, BadRecord, Flooded, Garbled, Refused };

struct Stage {
    std::string name;
    int index;            // of the exchange among those that post messages
    std::string command;
    bool text;            // the exchange wants response text
    int sameBefore;       // earlier exchanges of the same command
    // The record after this exchange gave nothing usable.
    void (*check)(const McbRecord& got);
};

const std::vector<Stage>& Stages() {
    static const std::vector<Stage> stages = {
        {"Version", 0, "SHOW_VERS", true, 0,
         [](const McbRecord& got) {
             // Not the failed case (checked apart): present, version unknown.
             EXPECT_EQ(got.nMailboxType, 5);
             EXPECT_EQ(got.bResponding, 1);
             EXPECT_EQ(got.bDevices, 0);
             EXPECT_STREQ(got.szVersion, "0000-000");
             EXPECT_EQ(got.nDetectors, 2);
             ExpectWords(got, Clean().record, 1, 0, 8, true);
         }},
        {"Configuration", 1, "SHOW_CONF", true, 0,
         [](const McbRecord& got) {
             EXPECT_EQ(got.nDetectors, 1);
             EXPECT_EQ(got.wTotalChannels, 16384);
             EXPECT_EQ(got.wChannels[0], 16384);
             ExpectWords(got, Clean().record, 1, 0, FEATURE_WORDS, true);
         }},
        {"SelectFirst", 2, "SET_SEGM 1", false, 0,
         [](const McbRecord& got) {
             ExpectDefaults(got, 1, "0919-005");
             // Default word 1 says the detectors are alike: the second is a copy.
             for (int w = 0; w < FEATURE_WORDS; ++w) EXPECT_EQ(got.dwFeatures[1][w], got.dwFeatures[0][w]) << w;
             EXPECT_EQ(got.dwDataMask[1], got.dwDataMask[0]);
             EXPECT_EQ(got.dwAuxMask[1], got.dwAuxMask[0]);
         }},
        {"FeaturesFirst", 3, "SHOW_FEAT", true, 0,
         [](const McbRecord& got) {
             ExpectDefaults(got, 1, "0919-005");
             ExpectDefaults(got, 2, "0919-005");
         }},
        {"SelectSecond", 6, "SET_SEGM 2", false, 0,
         [](const McbRecord& got) {
             ExpectWords(got, Clean().record, 1, 0, FEATURE_WORDS, true);
             ExpectDefaults(got, 2, "0919-005");
         }},
        {"FeaturesSecond", 7, "SHOW_FEAT", true, 1,
         [](const McbRecord& got) {
             ExpectWords(got, Clean().record, 1, 0, FEATURE_WORDS, true);
             ExpectDefaults(got, 2, "0919-005");
         }},
        {"ExtendedSecond", 8, "SHOW_FEAT_EXTE", true, 1,
         [](const McbRecord& got) {
             Defaults d("0919-005", 2);
             ExpectWords(got, Clean().record, 2, 0, 4, true);
             for (int w = 4; w < 8; ++w) EXPECT_EQ(got.dwFeatures[1][w], d.words[w]) << w;
         }},
        {"MasksSecond", 9, "SHOW_CONF_MASK", true, 1,
         [](const McbRecord& got) {
             Defaults d("0919-005", 2);
             ExpectWords(got, Clean().record, 2, 0, 8, false);
             EXPECT_EQ(got.dwDataMask[1], d.dataMask);
             EXPECT_EQ(got.dwAuxMask[1], d.auxMask);
         }},
    };
    return stages;
}

struct FaultKind {
    std::string name;
    Kind kind;
};

void PrintTo(const Stage& stage, std::ostream* os) { *os << stage.name; }
void PrintTo(const FaultKind& fault, std::ostream* os) { *os << fault.name; }

class FaultProbeStage : public ::testing::TestWithParam<std::tuple<Stage, FaultKind>> {};

TEST_P(FaultProbeStage, TheRecordKeepsWhatTheOtherExchangesGaveAndTheNextProbeEverything) {
    const Stage& stage = std::get<0>(GetParam());
    const Kind kind = std::get<1>(GetParam()).kind;
    // Text before the record of a selection is skipped: no harm done.
    const bool harmless = !stage.text && kind == Kind::Garbled;
    const CleanProbe& clean = Clean();
    const Messages& normal = clean.exchanges.at(static_cast<std::size_t>(stage.index));

    ProbeRig r;
    sim::Faults& faults = r.unit->faults;
    for (int i = 0; i < stage.index; ++i) faults.scripted.push_back(clean.exchanges[static_cast<std::size_t>(i)]);
    std::string bad = sim::StatusRecord(0, 0);
    bad[9] = bad[9] == '9' ? '0' : '9';  // the checksum off by a digit
    Messages flood;
    for (int i = 1; i <= 11; ++i) flood.push_back("BUSY " + std::to_string(i));
    Messages reply(normal.begin(), normal.end() - 1);  // the reply text, if any

    // Each entry is one attempt; as many as the exchange will make.
    std::map<std::string, int> lines;
    int attempts = 1;
    bool failed = true;
    switch (kind) {
        case Kind::Silent:
            attempts = stage.text ? 3 : 1;
            for (int i = 0; i < attempts; ++i) faults.scripted.push_back({});
            lines = stage.text ? std::map<std::string, int>{{kCommErr, 3}, {kRetries, 1}}
                               : std::map<std::string, int>{{kNoRecord, 1}};
            break;
        case Kind::BadRecord: {
            Messages messages = reply;
            messages.push_back(bad);
            faults.scripted.push_back(messages);
            lines = {{kBad, 1}, {kNoRecord, 1}};
            break;
        }
        case Kind::Flooded:
            attempts = 3;
            for (int i = 0; i < attempts; ++i) faults.scripted.push_back(flood);
            lines = {{kRetries, 1}};
            break;
        case Kind::Garbled:
            faults.scripted.push_back({"?GARBLED TEXT?", sim::StatusRecord(0, 0)});
            failed = false;
            break;
        case Kind::Refused:
            faults.scripted.push_back({sim::StatusRecord(5, 12)});
            failed = !stage.text;  // a refused selection fails SetDevSeg
            if (!stage.text)
                lines = {{"Kestrel::SetDevSeg(): \"" + stage.command + "\" failed for MCB 9\r\n", 1}};
            break;
    }

    ProbeMcb(kMcb);
    const McbRecord& got = r.record();
    EXPECT_TRUE(faults.scripted.empty());
    EXPECT_EQ(r.unit->timesReceived(stage.command), stage.sameBefore + attempts);
    for (const std::string& line : kLines) {
        const int want = line == kNoMailbox ? (stage.index == 0 && failed ? 1 : 0)
                                            : (lines.count(line) ? lines.at(line) : 0);
        EXPECT_EQ(r.rig.os.CountTrace(line), want) << line;
    }
    for (const auto& [line, count] : lines) EXPECT_EQ(r.rig.os.CountTrace(line), count) << line;

    if (stage.index == 0 && failed) {
        // A version query that fails leaves the unit failed, with one
        // detector of host defaults and nothing asked after it.
        EXPECT_EQ(got.nMailboxType, -1);
        EXPECT_EQ(got.bResponding, 0);
        EXPECT_EQ(got.nDetectors, 1);
        EXPECT_STREQ(got.szVersion, "0000-000");
        EXPECT_EQ(got.wTotalChannels, 16384);
        ExpectDefaults(got, 1, "0000-000");
        EXPECT_EQ(r.unit->timesReceived("SHOW_CONF"), 0);
        // The unit well again, the next look at it probes it anew.
        r.unit->faults = sim::Faults{};
        r.rig.os.Advance(2001);
        EXPECT_TRUE(r.rig.addin.IsValidDetector(kMcb, 2));
    } else if (harmless) {
        ExpectClean(got);
    } else {
        EXPECT_EQ(got.nMailboxType, 5);
        EXPECT_EQ(got.bResponding, 1);
        stage.check(got);
        r.unit->faults = sim::Faults{};
        EXPECT_TRUE(r.rig.addin.InitDetectors());
    }
    ExpectClean(r.record());
    EXPECT_EQ(r.rig.os.mutexDepth(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryExchange, FaultProbeStage,
    ::testing::Combine(::testing::ValuesIn(Stages()),
                       ::testing::Values(FaultKind{"Silent", Kind::Silent}, FaultKind{"BadRecord", Kind::BadRecord},
                                         FaultKind{"Flooded", Kind::Flooded}, FaultKind{"Garbled", Kind::Garbled},
                                         FaultKind{"Refused", Kind::Refused})),
    [](const ::testing::TestParamInfo<std::tuple<Stage, FaultKind>>& info) {
        return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
    });

// --- faults that last through the whole start-up --------------------------

class FaultStartUp : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Clean(); }  // its own rig first, never beside another
    ProbeRig r;
    void TearDown() override { EXPECT_EQ(r.rig.os.mutexDepth(), 0); }
};

// A failed probe takes longer than the re-probe interval, so each value
// that start-up reads for the failed unit's one detector probes it again.
TEST_F(FaultStartUp, AUnitThatTakesNoCommandIsProbedAgainForEachValueAndStaysFailed) {
    r.unit->faults.takeDelayMs.reset();  // takes only the zero-length commands
    const std::uint32_t start = r.rig.os.Now();
    EXPECT_TRUE(r.rig.addin.InitDetectors());
    EXPECT_EQ(r.record().nMailboxType, -1);
    EXPECT_EQ(r.record().nDetectors, 1);
    EXPECT_EQ(r.unit->timesReceived("SHOW_VERS"), 0);
    // Three probes ("@LOCK" and "@START" each re-probe): three failed
    // version queries of three attempts each.
    EXPECT_EQ(r.rig.os.CountTrace(kNoMailbox), 3);
    EXPECT_EQ(r.rig.os.CountTrace(kRetries), 3);
    EXPECT_EQ(r.rig.os.CountTrace(kCommErr), 9);
    EXPECT_GT(r.rig.os.Now() - start, 90000u);
    EXPECT_EQ(r.rig.os.CountTrace("Kestrel: 1 detectors for local access\r\n"), 1);

    r.unit->faults = sim::Faults{};
    EXPECT_TRUE(r.rig.addin.IsValidDetector(kMcb, 1));
    ExpectClean(r.record());
}

TEST_F(FaultStartUp, AUnitThatDoesNotTakeTheZeroLengthCommandIsFailed) {
    r.unit->faults.takeDelayMs.reset();
    r.unit->faults.takeZeroLength = false;
    EXPECT_TRUE(r.rig.addin.InitDetectors());
    EXPECT_EQ(r.record().nMailboxType, -1);
    EXPECT_EQ(r.rig.os.CountTrace("mcb_dialog(zero len cmd) Timeout flushing output again!\r\n"), 3);
    EXPECT_EQ(r.rig.os.CountTrace(kNoMailbox), 3);
    EXPECT_TRUE(r.unit->received().empty());
    EXPECT_EQ(r.unit->mailboxByte(sim::kOutFlag), 0);  // abandoned, so the next exchange starts clean

    r.unit->faults = sim::Faults{};
    r.rig.os.Advance(2001);
    EXPECT_TRUE(r.rig.addin.IsValidDetector(kMcb, 1));
    ExpectClean(r.record());
}

TEST_F(FaultStartUp, ADeadDriverShowsNoUnitAndTheRecordIsProbedAgainAfterTwoSeconds) {
    r.rig.os.LastDriver()->failAll = true;
    EXPECT_TRUE(r.rig.addin.InitDetectors());
    EXPECT_EQ(r.record().nMailboxType, -1);
    EXPECT_EQ(r.record().nDetectors, 0);
    EXPECT_EQ(r.rig.os.CountTrace("Kestrel: No detectors for local access\r\n"), 1);
    EXPECT_TRUE(r.unit->received().empty());

    r.rig.os.LastDriver()->failAll = false;
    r.rig.os.driverRequests = 0;
    EXPECT_FALSE(r.rig.addin.IsValidDetector(kMcb, 1));  // within the interval: no request
    EXPECT_EQ(r.rig.os.driverRequests, 0u);
    r.rig.os.Advance(2001);
    EXPECT_TRUE(r.rig.addin.IsValidDetector(kMcb, 1));
    ExpectClean(r.record());
}

TEST_F(FaultStartUp, ASlowUnitIsFoundCompletelyJustLater) {
    r.unit->faults.takeDelayMs = 2000;
    r.unit->faults.postDelayMs = 2000;
    const std::uint32_t start = r.rig.os.Now();
    EXPECT_TRUE(r.rig.addin.InitDetectors());
    ExpectClean(r.record());
    // Ten exchanges of the probe, each taken and answered late.
    EXPECT_GT(r.rig.os.Now() - start, 10u * 4000);
    EXPECT_EQ(r.rig.os.CountTrace(kRetries), 0);
}

}  // namespace

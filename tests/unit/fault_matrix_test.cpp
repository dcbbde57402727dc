// Every fault the simulated unit or the driver can inject, met by every
// operation that talks to a unit, at the first exchange the operation makes
// (its own command, or its device/segment or view selection). For each pair:
// the operation's documented result and trace lines, how often the unit took
// the command, the fake time it waited, the mutex released, the caller's
// buffers written only inside their bounds, and a clean run once the fault
// is gone. The probe has its own table (fault_probe_test.cpp); exact request
// counts of one exchange are in fault_exchange_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "addin/shared_state.h"
#include "sim/demo.h"
#include "support/guarded_buffer.h"
#include "support/rig.h"

namespace {

using fake::GuardedBuffer;

// The dialog's own trace lines.
const std::string kCommErr = "mcb_dialog() Comm err waiting for resp.\r\n";
const std::string kRetries = "mcb_dialog() Failure after 2 retries!\r\n";
const std::string kNoResp = "mcb_dialog() Timeout waiting for resp!\r\n";
const std::string kNoRecord = "mcb_dialog() Timeout waiting for %!\r\n";
const std::string kFlush = "mcb_dialog() Timeout flushing output!\r\n";
const std::string kBad = "mcb_dialog() found bad %.\r\n";
const std::string kBadInstead = "mcb_dialog() found bad % instead of resp.\r\n";
const std::vector<std::string> kDialogLines = {kCommErr, kRetries, kNoResp, kNoRecord, kFlush, kBad, kBadInstead};

// What response text an exchange that wants one ends up with.
enum class Text {
    Unit,     // the unit's reply
    Garbage,  // the first message, garbage, taken for the reply
    Cut,      // the unit's reply padded far beyond the buffer, cut to it
    None,     // a status record came in place of a reply
};

// What the faulted exchange comes to.
struct Outcome {
    int result;     // of the exchange: 1 completed, 0 failed
    int localErr;   // -2/-3 when failed, the first status field when completed
    int received;   // times the unit took the command
    int zeroLength; // zero-length commands the unit took (recoveries)
    std::map<std::string, int> lines;  // dialog trace lines
    Text text = Text::Unit;
    bool ok() const { return result == 1 && localErr == 0; }
    bool refused() const { return result == 1 && localErr != 0; }
};

const Outcome kClean{1, 0, 1, 0, {}};

struct Scene {
    fake::Rig& rig;
    sim::Unit& unit;
    const std::string& command;  // the command of the faulted exchange
    sim::EmulatedDriver& driver() { return *rig.os.LastDriver(); }
};

struct Fault {
    std::string name;
    std::function<void(Scene&)> inject;
    Outcome text, bare;    // for an exchange that wants response text / that does not
    std::uint32_t minMs = 0;  // fake time the operation takes at least
};

std::string Keyword(const std::string& command) { return command.substr(0, command.find(' ')); }

const std::vector<Fault>& Faults() {
    static const std::vector<Fault> faults = {
        {"TakenLate", [](Scene& s) { s.unit.faults.takeDelayMs = 3000; }, kClean, kClean, 3000},
        {"PostedLate", [](Scene& s) { s.unit.faults.postDelayMs = 3000; }, kClean, kClean, 3000},
        // Takes only the zero-length command of a recovery, and that twice:
        // once as the recovery clears the length under the command's still
        // set flag, once when it sets the flag again.
        {"NeverTaken", [](Scene& s) { s.unit.faults.takeDelayMs.reset(); },
         {0, -3, 0, 6, {{kCommErr, 3}, {kRetries, 1}}}, {0, -2, 0, 2, {{kNoRecord, 1}}}, 10000},
        {"NothingTaken",
         [](Scene& s) {
             s.unit.faults.takeDelayMs.reset();
             s.unit.faults.takeZeroLength = false;
         },
         {0, -2, 0, 0, {{kNoResp, 1}}}, {0, -2, 0, 0, {{kNoRecord, 1}}}, 20000},
        // A command of someone else's left waiting in the mailbox.
        {"PreviousCommandStuck",
         [](Scene& s) {
             s.unit.faults.takeDelayMs.reset();
             s.unit.faults.takeZeroLength = false;
             s.unit.setMailboxByte(sim::kOutFlag, sim::kFull);
         },
         {0, -2, 0, 0, {{kFlush, 1}}}, {0, -2, 0, 0, {{kFlush, 1}}}, 20000},
        {"NeverPosted", [](Scene& s) { s.unit.faults.postDelayMs.reset(); },
         {0, -3, 3, 3, {{kCommErr, 3}, {kRetries, 1}}}, {0, -2, 1, 1, {{kNoRecord, 1}}}, 10000},
        {"GarbageFirst", [](Scene& s) { s.unit.faults.garbageMessages = 2; }, {1, 0, 1, 0, {}, Text::Garbage},
         kClean},
        {"TenGarbageMessages", [](Scene& s) { s.unit.faults.garbageMessages = 10; },
         {0, -3, 3, 0, {{kRetries, 1}}}, {0, -3, 3, 0, {{kRetries, 1}}}},
        {"TwoExtraLines", [](Scene& s) { s.unit.faults.extraLines = 2; }, kClean, kClean},
        // With the reply read, the record is the tenth message still.
        {"NineExtraLines", [](Scene& s) { s.unit.faults.extraLines = 9; }, kClean, kClean},
        {"TenExtraLines", [](Scene& s) { s.unit.faults.extraLines = 10; },
         {0, -3, 3, 0, {{kRetries, 1}}}, {0, -3, 3, 0, {{kRetries, 1}}}},
        // After a bad record no other comes: the wait for one times out.
        {"BadChecksum", [](Scene& s) { s.unit.faults.badChecksumNext = 1; },
         {0, -2, 1, 1, {{kBad, 1}, {kNoRecord, 1}}}, {0, -2, 1, 1, {{kBad, 1}, {kNoRecord, 1}}}, 10000},
        {"BadThenGoodRecord", [](Scene& s) { s.unit.faults.badThenGoodNext = 1; },
         {1, 0, 1, 0, {{kBad, 1}}}, {1, 0, 1, 0, {{kBad, 1}}}},
        {"ThirteenCharacterRecord",
         [](Scene& s) {
             s.unit.faults.wrongLengthNext = 1;
             s.unit.faults.wrongLength = 13;
         },
         {0, -2, 1, 1, {{kNoRecord, 1}}}, {0, -2, 1, 1, {{kNoRecord, 1}}}, 10000},
        {"NineCharacterRecord",
         [](Scene& s) {
             s.unit.faults.wrongLengthNext = 1;
             s.unit.faults.wrongLength = 9;
         },
         {0, -2, 1, 1, {{kNoRecord, 1}}}, {0, -2, 1, 1, {{kNoRecord, 1}}}, 10000},
        {"TwelveCharacterRecord",
         [](Scene& s) {
             s.unit.faults.wrongLengthNext = 1;
             s.unit.faults.wrongLength = 12;
         },
         kClean, kClean},
        // Eleven lines and no record: the attempt ends after ten, the retry works.
        {"OneFlood", [](Scene& s) { s.unit.faults.floodNext = 1; }, {1, 0, 2, 0, {}}, {1, 0, 2, 0, {}}},
        {"ThreeFloods", [](Scene& s) { s.unit.faults.floodNext = 3; }, {0, -3, 3, 0, {{kRetries, 1}}},
         {0, -3, 3, 0, {{kRetries, 1}}}},
        {"TooLongReply", [](Scene& s) { s.unit.faults.tooLongNext = 1; }, {1, 0, 1, 0, {}, Text::Cut}, kClean},
        {"Refused", [](Scene& s) { s.unit.faults.refuse(Keyword(s.command), 5, 12); },
         {1, 5, 1, 0, {}, Text::None}, {1, 5, 1, 0, {}}},
        // Every request refused: reads give 0, so no flag ever looks set.
        {"DriverDead", [](Scene& s) { s.driver().failAll = true; }, {0, -3, 0, 0, {{kCommErr, 3}, {kRetries, 1}}},
         {0, -2, 0, 0, {{kNoRecord, 1}}}, 10000},
        // Every request that posts the command lost (after the flush's 6):
        // the unit never sees it; a recovery and a second post follow.
        {"PostLost",
         [](Scene& s) {
             const auto bytes = static_cast<std::uint32_t>(2 + s.command.size() + 1);
             s.driver().failNext(2 * bytes, 6);
         },
         {1, 0, 1, 1, {{kCommErr, 1}}}, {0, -2, 0, 1, {{kNoRecord, 1}}}, 10000},
    };
    return faults;
}

// How the run of an operation is set up before the fault is injected.
enum class Stage {
    Command,    // device/segment and view selected: the operation's own command first
    Selection,  // selections forgotten: the device/segment command first
    View,       // the view's trust expired: the view command first
};

struct Ctx {
    fake::Rig& rig;
    sim::Unit& unit;
    int received(const std::string& command) const { return unit.timesReceived(command); }
    int lines(const std::string& line) const { return rig.os.CountTrace(line); }
};

struct Operation {
    std::string name;
    Stage stage;
    std::string command;  // the exchange the fault meets
    bool text;            // that exchange wants response text
    std::function<void(Ctx&, const Outcome&)> runAndCheck;
};

constexpr int kMcb = 9;
constexpr int kDet = 2;
constexpr int kView = 1;
constexpr std::uint32_t kDataMask = 0x00FFFFFF;  // detector 2 of the demo's segment unit
constexpr std::uint32_t kAuxMask = 0xFF000000;
constexpr std::uint32_t kPcClock = 1600000000;   // the PC's time, unlike the units' calendar
constexpr std::int32_t kPcStamp = 1234567;       // the PC-side start stamp of detector 2
const std::string kDescription = "Detector two";

// A selection command met the fault: the operation stops with -1 and its
// own message; a refusal also gives the selection's message.
void CheckSelection(Ctx& c, const Outcome& o, const std::string& who, Stage stage, const std::string& command) {
    const std::string what = stage == Stage::View ? "View" : "DevSeg";
    const std::string selector = stage == Stage::View ? "SetView" : "SetDevSeg";
    EXPECT_EQ(c.lines("Kestrel::" + who + "(): Could not select " + what + "!\r\n"), o.ok() ? 0 : 1);
    EXPECT_EQ(c.lines("Kestrel::" + selector + "(): \"" + command + "\" failed for MCB 9\r\n"), o.refused() ? 1 : 0);
    if (stage == Stage::Selection) {
        EXPECT_EQ(c.rig.Record(kMcb).nCurDevSeg, o.ok() ? kDet : -1);
    }
}

void RunSetRoi(Ctx& c, const Outcome& o, Stage stage, const std::string& command) {
    GuardedBuffer err(4), status2(4, 0x77);
    const std::int32_t result = c.rig.addin.SetROI(kMcb, kDet, 100, 50, kView, err.int32(), status2.int32());
    EXPECT_TRUE(err.Intact());
    EXPECT_TRUE(status2.Intact());
    if (stage != Stage::Command) {
        CheckSelection(c, o, "SetROI", stage, command);
        EXPECT_EQ(c.received("SET_ROI 100, 50"), o.ok() ? 1 : 0);
        if (!o.ok()) {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(*err.int32(), 0);
            EXPECT_EQ(*status2.int32(), 0);
            return;
        }
    }
    if (o.ok()) {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(*err.int32(), 0);
        EXPECT_EQ(*status2.int32(), 0);
    } else if (o.refused()) {
        EXPECT_EQ(result, -6);
        EXPECT_EQ(*err.int32(), 5);
        EXPECT_EQ(*status2.int32(), 12);
    } else {
        EXPECT_EQ(result, o.localErr);  // a failed exchange leaves the status outputs at 0
        EXPECT_EQ(*err.int32(), 0);
        EXPECT_EQ(*status2.int32(), 0);
    }
}

void RunGetData(Ctx& c, const Outcome& o, Stage stage, const std::string& command) {
    GuardedBuffer data(4 * 5), dataMask(4), auxMask(4);
    const std::int32_t result =
        c.rig.addin.GetData(kMcb, kDet, dataMask.words(), auxMask.words(), 0, 10, 5, kView, data.words());
    EXPECT_TRUE(data.Intact());
    EXPECT_TRUE(dataMask.Intact());
    EXPECT_TRUE(auxMask.Intact());
    EXPECT_EQ(*dataMask.words(), kDataMask);  // delivered before any selection
    EXPECT_EQ(*auxMask.words(), kAuxMask);
    CheckSelection(c, o, "GetData", stage, command);
    if (!o.ok()) {
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(data.Untouched());
        return;
    }
    EXPECT_EQ(result, 1);
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(data.Word(i), *c.unit.state().word(kDet, 10 + i)) << i;
}

void RunSetData(Ctx& c, const Outcome& o, Stage stage, const std::string& command) {
    std::uint32_t* words[2] = {c.unit.state().word(kDet, 20), c.unit.state().word(kDet, 21)};
    c.rig.chain->sync();
    *words[0] = 0xAB000001;
    *words[1] = 0xCD000002;
    GuardedBuffer values(4 * 2);
    values.words()[0] = 0x11000005;  // the top byte is outside the data mask
    values.words()[1] = 0x00000007;
    const std::int32_t result = c.rig.addin.SetData(kMcb, kDet, 0, 20, 2, 0, values.words());
    EXPECT_TRUE(values.Intact());
    CheckSelection(c, o, "SetData", stage, command);
    EXPECT_EQ(result, o.ok() ? 1 : -1);
    EXPECT_EQ(*words[0], o.ok() ? 0xAB000005u : 0xAB000001u);
    EXPECT_EQ(*words[1], o.ok() ? 0xCD000007u : 0xCD000002u);
}

const std::vector<Operation>& Operations() {
    static const std::vector<Operation> operations = {
        {"SendCommand", Stage::Command, "SHOW_VERS", true,
         [](Ctx& c, const Outcome& o) {
             GuardedBuffer resp(16), len(4), err(4), status2(4);
             const bool result = c.rig.addin.SendCommand(kMcb, kDet, "SHOW_VERS", 16, resp.chars(), len.int32(),
                                                         err.int32(), status2.int32());
             EXPECT_TRUE(resp.Intact());
             EXPECT_TRUE(len.Intact());
             EXPECT_TRUE(err.Intact());
             EXPECT_TRUE(status2.Intact());
             EXPECT_EQ(result, o.result == 1);
             EXPECT_EQ(*err.int32(), o.localErr);
             EXPECT_EQ(*status2.int32(), o.refused() ? 12 : 0);
             std::string expected;
             if (o.result == 1 && o.text == Text::Unit) expected = "$F0919-005";
             if (o.result == 1 && o.text == Text::Garbage) expected = "\x01\x7F%\xFE\x80garbage0";
             if (o.result == 1 && o.text == Text::Cut) expected = "$F0919-005XXXXX";  // 15 and the terminator
             EXPECT_EQ(resp.Text(), expected);
             EXPECT_EQ(*len.int32(), static_cast<std::int32_t>(expected.size()));
         }},
        // The device/segment selection of the raw command fails: the
        // outputs are cleared as for an invalid detector.
        {"SendCommandSelection", Stage::Selection, "SET_SEGM 2", false,
         [](Ctx& c, const Outcome& o) {
             GuardedBuffer resp(8), len(4), err(4), status2(4);
             const bool result = c.rig.addin.SendCommand(kMcb, kDet, "SET_ROI 1, 2", 0, resp.chars(), len.int32(),
                                                         err.int32(), status2.int32());
             EXPECT_TRUE(resp.Untouched());  // size 0: never written
             EXPECT_TRUE(len.Intact());
             EXPECT_TRUE(err.Intact());
             EXPECT_TRUE(status2.Intact());
             EXPECT_EQ(result, o.ok());
             EXPECT_EQ(*err.int32(), o.ok() ? 0 : -1);
             EXPECT_EQ(*status2.int32(), 0);
             if (!o.ok()) {
                 EXPECT_EQ(*len.int32(), 0);
             }
             EXPECT_EQ(c.received("SET_ROI 1, 2"), o.ok() ? 1 : 0);
             EXPECT_EQ(c.lines("Kestrel::SetDevSeg(): \"SET_SEGM 2\" failed for MCB 9\r\n"), o.refused() ? 1 : 0);
         }},
        {"SetROI", Stage::Command, "SET_ROI 100, 50", false,
         [](Ctx& c, const Outcome& o) { RunSetRoi(c, o, Stage::Command, "SET_ROI 100, 50"); }},
        {"SetROISelection", Stage::Selection, "SET_SEGM 2", false,
         [](Ctx& c, const Outcome& o) { RunSetRoi(c, o, Stage::Selection, "SET_SEGM 2"); }},
        {"SetROIView", Stage::View, "SET_VIEW 1", false,
         [](Ctx& c, const Outcome& o) { RunSetRoi(c, o, Stage::View, "SET_VIEW 1"); }},
        {"ClearROI", Stage::Command, "SET_WIND 100, 50", false,
         [](Ctx& c, const Outcome& o) {
             GuardedBuffer err(4), status2(4, 0x77);
             const std::int32_t result = c.rig.addin.ClearROI(kMcb, kDet, 100, 50, kView, err.int32(),
                                                              status2.int32());
             EXPECT_TRUE(err.Intact());
             EXPECT_TRUE(status2.Intact());
             EXPECT_EQ(c.received("CLEAR_ROI"), o.ok() ? 1 : 0);
             EXPECT_EQ(c.rig.Record(kMcb).nCurDevSeg, -1);  // whatever happened
             const std::string failed =
                 "Kestrel::ClearROI(): mcb_dialog(9, \"SET_WIND 100, 50\") failed! LocalErr=" +
                 std::to_string(o.localErr) + "\r\n";
             EXPECT_EQ(c.lines(failed), o.result == 0 ? 1 : 0);
             EXPECT_EQ(result, o.ok() ? 1 : o.refused() ? -6 : o.localErr);
             EXPECT_EQ(*err.int32(), o.localErr);  // unlike SetROI, a failed exchange's code too
             EXPECT_EQ(*status2.int32(), o.refused() ? 12 : 0);
         }},
        {"GetDataSelection", Stage::Selection, "SET_SEGM 2", false,
         [](Ctx& c, const Outcome& o) { RunGetData(c, o, Stage::Selection, "SET_SEGM 2"); }},
        {"GetDataView", Stage::View, "SET_VIEW 1", false,
         [](Ctx& c, const Outcome& o) { RunGetData(c, o, Stage::View, "SET_VIEW 1"); }},
        {"SetDataSelection", Stage::Selection, "SET_SEGM 2", false,
         [](Ctx& c, const Outcome& o) { RunSetData(c, o, Stage::Selection, "SET_SEGM 2"); }},
        // Detector 2 is not acquiring: a usable answer says false, anything
        // else counts as active.
        {"IsActive", Stage::Command, "SHOW_ACTI", true,
         [](Ctx& c, const Outcome& o) {
             GuardedBuffer status(4);
             const bool active = c.rig.addin.IsActive(kMcb, kDet, status.int32());
             EXPECT_TRUE(status.Intact());
             const bool usable = o.ok() && (o.text == Text::Unit || o.text == Text::Cut);
             EXPECT_EQ(active, !usable);
             EXPECT_EQ(*status.int32(), usable ? 1 : -3);
         }},
        {"LocalGetStartTime", Stage::Command, "SHOW_DATE", true,
         [](Ctx& c, const Outcome& o) {
             GuardedBuffer now(4);
             const std::uint32_t start = c.rig.addin.LocalGetStartTime(kMcb, kDet, now.words());
             EXPECT_TRUE(now.Intact());
             // The other three queries follow only a completed first one.
             EXPECT_EQ(c.received("SHOW_DATE_STAR"), o.result);
             EXPECT_EQ(c.received("SHOW_TIME_STAR"), o.result);
             // Garbage is a fault of every exchange: no reply holds a time.
             if (o.result == 0 || o.text == Text::Garbage) {
                 EXPECT_EQ(start, static_cast<std::uint32_t>(kPcStamp));
                 EXPECT_EQ(*now.words(), kPcClock);
                 return;
             }
             EXPECT_EQ(start, static_cast<std::uint32_t>(fake::kEpoch - 3600));  // the unit's own stamp
             if (o.refused()) {
                 EXPECT_EQ(*now.words(), 0u);  // no current date, but a good start
             } else {
                 EXPECT_GE(*now.words(), static_cast<std::uint32_t>(fake::kEpoch));
                 EXPECT_LE(*now.words(), static_cast<std::uint32_t>(fake::kEpoch + 600));
             }
         }},
        {"GetAppData", Stage::Command, "SHOW_DATA_APP \"@DESC\"", true,
         [](Ctx& c, const Outcome& o) {
             GuardedBuffer value(32);
             const std::int32_t length = c.rig.addin.GetAppData(kMcb, kDet, "@DESC", "dflt", value.chars(), 32);
             EXPECT_TRUE(value.Intact());
             std::string expected = "dflt";
             if (o.ok() && o.text == Text::Unit) expected = kDescription;
             // The reply's line end, then padding: 31 characters of it fit.
             if (o.ok() && o.text == Text::Cut) expected = kDescription + "\r\n" + std::string(17, 'X');
             EXPECT_EQ(value.Text(), expected);
             EXPECT_EQ(length, static_cast<std::int32_t>(expected.size()));
         }},
        {"SetAppData", Stage::Command, "SET_DATA_APP \"@DESC\",\"new\"", false,
         [](Ctx& c, const Outcome& o) {
             EXPECT_EQ(c.rig.addin.SetAppData(kMcb, kDet, "@DESC", "new"), o.ok());
             // The unit stores what it took, whatever became of the record.
             EXPECT_EQ(c.unit.state().detector(kDet).config.appData["@DESC"],
                       o.received > 0 && !o.refused() ? "new" : kDescription);
         }},
    };
    return operations;
}

void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }
void PrintTo(const Fault& fault, std::ostream* os) { *os << fault.name; }

sim::UnitConfig MatrixUnit() {
    sim::UnitConfig config = sim::DemoSegmentUnit(fake::kEpoch);
    config.detector[kDet - 1].appData["@DESC"] = kDescription;
    return config;
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<Operation, Fault>> {
protected:
    // The unit's record as start-up leaves it, found once for all cases
    // (before any case's rig exists) with no selection on record.
    static McbRecord& Probed() {
        static McbRecord record{};
        return record;
    }
    static void SetUpTestSuite() {
        fake::Rig probe;
        probe.chain->addUnit(kMcb, MatrixUnit());
        probe.ConnectNt();
        probe.OpenDriverOnly();
        probe.addin.InitDetectors();
        Probed() = probe.Record(kMcb);
        Probed().nCurDevSeg = -1;
        Probed().nCurView = -1;
    }

    fake::Rig rig;
    sim::Unit* unit = nullptr;

    void SetUp() override {
        unit = rig.chain->addUnit(kMcb, MatrixUnit());
        rig.ConnectNt();
        rig.OpenDriverOnly();
        Process().nDebugLevel = 1;  // the dialog's lines are written from level 1
        rig.os.requestCostMicros = 1000;  // keeps the polling of 10 s time-outs short
        rig.os.wallClock = kPcClock;
        rig.Record(kMcb) = Probed();
        ASSERT_EQ(rig.Record(kMcb).nMailboxType, 5);
        ASSERT_TRUE(rig.addin.IsValidDetector(kMcb, kDet));
        rig.Record(kMcb).tStartTime[kDet - 1] = kPcStamp;
    }

    // Aims the next run at the operation's stage, then forgets the logs.
    void Prepare(Stage stage) {
        ASSERT_EQ(rig.addin.SetROI(kMcb, kDet, 0, 1, kView, nullptr, nullptr), 1);  // selects detector and view
        if (stage == Stage::Selection) rig.addin.InvalidateMcb(kMcb);
        if (stage == Stage::View) rig.os.Advance(4001);
        unit->clearLogs();
        rig.os.ClearTrace();
    }
};

TEST_P(FaultMatrix, TheOperationReportsTheFaultAndTheNextRunRecovers) {
    const Operation& op = std::get<0>(GetParam());
    const Fault& fault = std::get<1>(GetParam());
    const Outcome& expected = op.text ? fault.text : fault.bare;
    Ctx ctx{rig, *unit};

    ASSERT_NO_FATAL_FAILURE(Prepare(op.stage));
    Scene scene{rig, *unit, op.command};
    fault.inject(scene);
    const std::uint32_t start = rig.os.Now();
    {
        SCOPED_TRACE("under the fault");
        op.runAndCheck(ctx, expected);
    }
    EXPECT_GE(rig.os.Now() - start, fault.minMs);
    EXPECT_EQ(unit->timesReceived(op.command), expected.received);
    EXPECT_EQ(unit->zeroLengthReceived(), expected.zeroLength);
    for (const std::string& line : kDialogLines) {
        auto found = expected.lines.find(line);
        EXPECT_EQ(rig.os.CountTrace(line), found == expected.lines.end() ? 0 : found->second) << line;
    }
    EXPECT_EQ(rig.os.mutexDepth(), 0);

    // The fault gone, the next exchanges work at once: those that aim the
    // unit at the stage again, then the operation.
    unit->faults = sim::Faults{};
    rig.os.LastDriver()->failAll = false;
    rig.os.LastDriver()->failNext(0);
    ASSERT_NO_FATAL_FAILURE(Prepare(op.stage));
    {
        SCOPED_TRACE("recovered");
        op.runAndCheck(ctx, kClean);
    }
    EXPECT_EQ(unit->timesReceived(op.command), 1);
    for (const std::string& line : kDialogLines) EXPECT_EQ(rig.os.CountTrace(line), 0) << line;
    EXPECT_EQ(rig.os.mutexDepth(), 0);
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Operation, Fault>>& info) {
    return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(AllFaults, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(Operations()), ::testing::ValuesIn(Faults())),
                         CaseName);

}  // namespace

// The mailbox flag handshake on the fake clock: time-outs, recovery by the
// zero-length command, the trace rhythm and the tick-counter wrap.
#include <gtest/gtest.h>

#include <cstring>

#include "port/device_memory.h"
#include "port/handshake.h"
#include "port/mailbox_layout.h"
#include "support/rig.h"

namespace {

class Handshake : public ::testing::Test {
protected:
    fake::Rig rig;
    sim::Unit* unit = nullptr;

    void SetUp() override {
        sim::UnitConfig config;
        config.mailboxType = 5;
        unit = rig.chain->addUnit(10, config);
        rig.ConnectNt();
        rig.OpenDriverOnly();
        Process().nDebugLevel = 1;
    }
    // Posts a command as the dialog does, outside any time-out.
    void Post(const char* text) { post_command(5, text, static_cast<std::int32_t>(std::strlen(text))); }
    // A unit that takes neither the command nor the zero-length one.
    void PostToAUnitThatTakesNothing() {
        unit->faults.takeDelayMs.reset();
        unit->faults.takeZeroLength = false;
        SelectUnit(10, 1);
        Post("SHOW_VERS");
    }
    std::uint32_t TimeOf(const std::string& line) {
        for (std::size_t i = 0; i < rig.os.trace.size(); ++i)
            if (rig.os.trace[i] == line) return rig.os.traceTimes[i];
        ADD_FAILURE() << "no trace line " << line;
        return 0;
    }
};

TEST_F(Handshake, ATakenCommandFlushesAfterOnePause) {
    SelectUnit(10, 1);
    Post("SHOW_VERS");
    rig.os.logRequests = true;
    rig.os.sleeps = 0;
    // The unit takes the command as soon as it looks; drain its answer.
    unit->advance(rig.chain->now());
    unit->faults.postDelayMs.reset();
    EXPECT_EQ(flush_output(5, 10), 1);
    EXPECT_EQ(rig.os.sleeps, 1u);
    // write MCB$INFLG, read MCB$OUTFLG, write MCB$INFLG: two NT requests each.
    ASSERT_EQ(rig.os.requestLog.size(), 6u);
    int inflagWrites = 0;
    for (std::size_t i = 0; i + 1 < rig.os.requestLog.size(); i += 2)
        if (rig.os.requestLog[i + 1].code == sim::kNtWrite && rig.os.requestLog[i].in[8] == (992 & 0xFF))
            ++inflagWrites;
    EXPECT_EQ(inflagWrites, 2);
}

TEST_F(Handshake, AnMcbThatNeverTakesFailsFlushAfterTwentySeconds) {
    PostToAUnitThatTakesNothing();
    const std::uint32_t start = rig.os.Now();
    EXPECT_EQ(flush_output(5, 10), 0);
    const std::uint32_t elapsed = rig.os.Now() - start;
    EXPECT_GT(elapsed, 20000u);
    EXPECT_LT(elapsed, 20100u);
    const std::uint32_t recovery =
        TimeOf("Kestrel::flush_output() 10 sec timeout, MCB$OUTFLG=255 -- sending zero length cmd\r\n") - start;
    EXPECT_GT(recovery, 10000u);
    EXPECT_LT(recovery, 10050u);
    TimeOf("Kestrel::flush_output() 2nd 10 sec timeout, MCB$OUTFLG=255 -- failure (clearing MCB$OUTFLG)\r\n");
    EXPECT_EQ(unit->mailboxByte(sim::kOutFlag), 0);
    // About one "waited" line per 100 ms, never two within 100 ms.
    int waited = rig.os.CountTrace("Kestrel::flush_output() waited 100ms!\r\n");
    EXPECT_GE(waited, 190);
    EXPECT_LE(waited, 200);
    std::uint32_t last = start;
    for (std::size_t i = 0; i < rig.os.trace.size(); ++i) {
        if (rig.os.trace[i] != "Kestrel::flush_output() waited 100ms!\r\n") continue;
        EXPECT_GT(rig.os.traceTimes[i] - last, 100u);
        last = rig.os.traceTimes[i];
    }
}

TEST_F(Handshake, NothingIsTracedAtLevelZero) {
    Process().nDebugLevel = 0;
    PostToAUnitThatTakesNothing();
    EXPECT_EQ(flush_output(5, 10), 0);
    EXPECT_TRUE(rig.os.trace.empty());
}

TEST_F(Handshake, ALateMessageIsAwaitedWithATraceEveryTwoHundredMs) {
    unit->faults.postDelayMs = 5000;
    SelectUnit(10, 1);
    Post("SHOW_VERS");
    const std::uint32_t start = rig.os.Now();
    EXPECT_EQ(wait_resp(5, 10), 1);
    EXPECT_GE(rig.os.Now() - start, 5000u);
    int waited = rig.os.CountTrace("wait_resp() waited 200ms!\r\n");
    EXPECT_GE(waited, 24);
    EXPECT_LE(waited, 25);
    // The message waits for the caller: wait_resp does not acknowledge it.
    EXPECT_EQ(unit->mailboxByte(sim::kInFlag), 0xFF);
}

TEST_F(Handshake, NoMessageButTheZeroLengthCommandTakenMeansTryAgain) {
    unit->faults.postDelayMs.reset();
    SelectUnit(10, 1);
    Post("SHOW_VERS");
    const std::uint32_t start = rig.os.Now();
    EXPECT_EQ(wait_resp(5, 10), -1);
    const std::uint32_t elapsed = rig.os.Now() - start;
    EXPECT_GT(elapsed, 10000u);
    EXPECT_LT(elapsed, 10050u);
    EXPECT_EQ(rig.os.CountTrace("wait_resp() 10 sec timeout, MCB$INFLG=0 -- sending zero len cmd\r\n"), 1);
    EXPECT_EQ(rig.os.CountTrace("wait_resp() zero len cmd success -- returning -1 (try again)\r\n"), 1);
    EXPECT_EQ(unit->zeroLengthReceived(), 1);
}

TEST_F(Handshake, AnMcbThatTakesNothingFailsTheWaitAfterTwentySeconds) {
    unit->faults.postDelayMs.reset();
    PostToAUnitThatTakesNothing();
    const std::uint32_t start = rig.os.Now();
    EXPECT_EQ(wait_resp(5, 10), 0);
    const std::uint32_t elapsed = rig.os.Now() - start;
    EXPECT_GT(elapsed, 20000u);
    EXPECT_LT(elapsed, 20100u);
    EXPECT_EQ(rig.os.CountTrace("wait_resp() 10 sec timeout waiting for outflg to clear, MCB$OUTFLG=255 -- "
                                "failure (clearing MCB$OUTFLG)\r\n"),
              1);
    EXPECT_EQ(unit->mailboxByte(sim::kOutFlag), 0);
}

TEST_F(Handshake, TimeOutsHoldAcrossATickCounterWrap) {
    rig.os.tickBase = 0xFFFFFFFFu - 5000;  // wraps half-way through the first phase
    PostToAUnitThatTakesNothing();
    const std::uint32_t start = rig.os.Now();
    EXPECT_EQ(flush_output(5, 10), 0);
    const std::uint32_t elapsed = rig.os.Now() - start;  // unsigned: right across the wrap
    EXPECT_GT(elapsed, 20000u);
    EXPECT_LT(elapsed, 20100u);
}

}  // namespace

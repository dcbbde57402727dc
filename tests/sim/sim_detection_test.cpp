// Present and absent units under the mailbox-type test: a type-5 unit is
// found as 5, a type-4 unit as 4, and no kind of absent hardware passes.
#include <gtest/gtest.h>

#include "sim/demo.h"
#include "sim_test_support.h"

namespace {

using simtest::FakeClock;
using simtest::UnitByte;

// The host's detection walk, written from its description, over the
// Windows NT requests.
class Detector {
public:
    explicit Detector(sim::EmulatedDriver& driver) : driver_(driver) {}

    int detect(int mcb) {
        const int neighbour = mcb + 1 > 16 ? 9 : mcb + 1;
        select(mcb, true);
        std::uint8_t saved1 = read(4, 1), saved2 = read(4, 2);
        if (pattern(mcb, neighbour, 4)) {
            select(mcb, false);
            if (read(4, 1) != 0x5A) return 5;
            select(mcb, true);
            write(4, 1, 0xA5);
            write(4, 2, 0x00);
            select(mcb, false);
            std::uint8_t seen = read(4, 1);
            select(mcb, true);
            return seen == 0xA5 ? 4 : 5;
        }
        write(4, 1, saved1);
        write(4, 2, saved2);
        saved1 = read(5, 1);
        saved2 = read(5, 2);
        if (pattern(mcb, neighbour, 5)) return 5;
        write(5, 1, saved1);
        write(5, 2, saved2);
        return -1;
    }

private:
    bool pattern(int mcb, int neighbour, int type) {
        const std::uint8_t pairs[3][2] = {{0x00, 0xA5}, {0xA5, 0x00}, {0x5A, 0x00}};
        bool unitSpecific = false;
        for (const auto& pair : pairs) {
            write(type, 1, pair[0]);
            for (int i = 0; i < 3; ++i) {
                write(type, 2, pair[1]);
                if (read(type, 1) != pair[0]) return false;
            }
            write(type, 2, pair[1]);
            select(neighbour, true);
            if (read(type, 1) != pair[0]) unitSpecific = true;
            select(mcb, true);
        }
        return unitSpecific;
    }

    void select(int mcb, bool mailbox) { unit_ = UnitByte(mcb, mailbox); }
    static std::uint32_t address(int type, int offset) { return type == 5 ? 2u * offset : 4u * offset + 3; }
    std::uint8_t read(int type, int offset) {
        std::uint8_t b = 0;
        simtest::NtRead(driver_, unit_, address(type, offset), &b, 1);
        return b;
    }
    void write(int type, int offset, std::uint8_t value) {
        simtest::NtWrite(driver_, unit_, address(type, offset), &value, 1);
    }

    sim::EmulatedDriver& driver_;
    std::uint32_t unit_ = 0;
};

class SimDetectionTest : public ::testing::Test {
protected:
    FakeClock clock;
    std::unique_ptr<sim::Chain> chain = sim::Chain::Default(clock.clock(), 1039009530);
    sim::EmulatedDriver driver{*chain};
    Detector detector{driver};
};

TEST_F(SimDetectionTest, DemoUnitsAreFoundWithTheirTypesAndTheRestIsAbsent) {
    EXPECT_EQ(detector.detect(9), 5);
    EXPECT_EQ(detector.detect(12), 4);
    for (int mcb : {10, 11, 13, 14, 15, 16}) EXPECT_EQ(detector.detect(mcb), -1) << "MCB " << mcb;
}

TEST_F(SimDetectionTest, Type4UnitNextToAnotherType4UnitAndAcrossTheWrap) {
    sim::UnitConfig type4 = sim::DemoDeviceUnit(0);
    type4.version = "1234-567";  // a segment unit with the type-4 spacing
    chain->addUnit(13, type4);
    chain->addUnit(16, type4);
    EXPECT_EQ(detector.detect(12), 4);
    EXPECT_EQ(detector.detect(13), 4);
    EXPECT_EQ(detector.detect(16), 4) << "neighbour of 16 is 9";
}

TEST_F(SimDetectionTest, EchoingPortFailsTheTest) {
    chain->absentBehaviour = sim::AbsentBehaviour::EchoPort;
    for (int mcb : {10, 11, 13, 16}) EXPECT_EQ(detector.detect(mcb), -1) << "MCB " << mcb;
    EXPECT_EQ(detector.detect(9), 5);
    EXPECT_EQ(detector.detect(12), 4);
}

TEST_F(SimDetectionTest, MemorySharedByEveryAbsentNumberFailsWhenTheNeighbourIsAbsentToo) {
    chain->absentBehaviour = sim::AbsentBehaviour::SharedMemory;
    for (int mcb : {10, 13, 14, 15}) EXPECT_EQ(detector.detect(mcb), -1) << "MCB " << mcb;
    // Its bytes really are shared: what one absent number shows, another shows.
    std::uint8_t value = 0x6B, seen = 0;
    simtest::NtWrite(driver, UnitByte(14, true), 100, &value, 1);
    simtest::NtRead(driver, UnitByte(10, false), 100, &seen, 1);
    EXPECT_EQ(seen, 0x6B);
}

TEST_F(SimDetectionTest, EmptyChainFindsNothing) {
    sim::Chain empty(clock.clock(), 0);
    sim::EmulatedDriver d(empty);
    Detector walk(d);
    for (int mcb = 9; mcb <= 16; ++mcb) EXPECT_EQ(walk.detect(mcb), -1);
}

TEST_F(SimDetectionTest, Type4DataSpaceShowsTheScratchBytesAndTheSpectrumElsewhere) {
    sim::Unit& unit = *chain->unit(12);
    unit.setMailboxByte(sim::kScratch1, 0x12);
    unit.setMailboxByte(sim::kScratch2, 0x34);
    *unit.state().word(1, 1) = 0x00ABCDEF;
    std::uint8_t bytes[12];
    ASSERT_TRUE(simtest::NtRead(driver, UnitByte(12, false), 0, bytes, 12));
    EXPECT_EQ(bytes[4], 0xEF);
    EXPECT_EQ(bytes[6], 0xAB);
    EXPECT_EQ(bytes[7], 0x12) << "address 7 is mailbox offset 1";
    EXPECT_EQ(bytes[11], 0x34) << "address 11 is mailbox offset 2";
    std::uint8_t value = 0x99;
    simtest::NtWrite(driver, UnitByte(12, false), 7, &value, 1);
    EXPECT_EQ(unit.mailboxByte(sim::kScratch1), 0x99);
}

TEST_F(SimDetectionTest, Type5DataSpaceIsSeparateFromTheMailbox) {
    sim::Unit& unit = *chain->unit(9);
    unit.state().detector(1).acquiring = false;
    std::uint8_t before[12], after[12];
    simtest::NtRead(driver, UnitByte(9, false), 0, before, 12);
    for (std::uint32_t a : {2u, 4u, 7u, 11u}) {
        std::uint8_t v = 0xA5;
        simtest::NtWrite(driver, UnitByte(9, true), a, &v, 1);
    }
    simtest::NtRead(driver, UnitByte(9, false), 0, after, 12);
    EXPECT_EQ(0, std::memcmp(before, after, 12));
    EXPECT_EQ(unit.mailboxByte(1), 0xA5);
}

}  // namespace

// Golden transcripts: the exact driver requests of representative
// exchanges in both driver protocols, kept as text in tests/golden/ and
// compared byte for byte with what the add-in sends now.
//
// One request per line: the control code, the input bytes, the output
// length; then, after '#', what the request addresses (for reading only).
// Input bytes are written in 4-byte groups, each as it lies in memory
// (little-endian words read backwards). A Windows 95 write carries a flat
// address that changes from run to run: in its place stand, after '*',
// the bytes that address pointed at.
//
// After a deliberate change of the requests, regenerate the files with
//     KESTREL_UPDATE_GOLDEN=1 <unit test program> --gtest_filter='Golden*'
// and review the difference before committing it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "protocol/selection.h"
#include "sim/demo.h"
#include "support/rig.h"

#ifndef KESTREL_SOURCE_DIR
#error "KESTREL_SOURCE_DIR must name the source tree that holds tests/golden"
#endif

namespace {

constexpr std::uint32_t kNtSetAddress = 0x9C402404;
constexpr std::uint32_t kNtRead = 0x9C402443;
constexpr std::uint32_t kNtWrite = 0x9C40240B;
constexpr std::uint32_t kW95Read = 2;
constexpr std::uint32_t kW95Write = 3;

std::string Hex(const std::uint8_t* bytes, std::size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0 && i % 4 == 0) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text.empty() ? "-" : text;
}

std::uint32_t Word(const std::vector<std::uint8_t>& in, std::size_t index) {
    const std::uint8_t* p = in.data() + 4 * index;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// What a unit byte and device address name: the MCB, the space and, in
// the mailbox space, the offset (type 5 puts offset k at 2k, type 4 at 4k+3).
std::string Place(std::uint32_t unit, std::uint32_t address) {
    std::string text = "MCB " + std::to_string((unit & 7) + 9);
    if (!(unit & 8)) return text + " data byte " + std::to_string(address);
    std::uint32_t offset = 0;
    std::string type;
    if (address % 2 == 0) {
        offset = address / 2;
        type = "5";
    } else if (address % 4 == 3) {
        offset = address / 4;
        type = "4";
    } else {
        return text + " mailbox byte " + std::to_string(address) + " (no offset)";
    }
    std::string name;
    if (offset == 0) name = " MCB$OUTFLG";
    if (offset == 1 || offset == 2) name = " scratch";
    if (offset == 14 || offset == 15) name = " command length";
    if (offset >= 16 && offset < 496) name = " command text";
    if (offset == 496) name = " MCB$INFLG";
    if (offset == 510 || offset == 511) name = " message length";
    if (offset >= 512) name = " message text";
    return text + " mailbox type " + type + " offset " + std::to_string(offset) + name;
}

std::string Transcript(const std::vector<fake::FakeOs::Request>& log) {
    std::ostringstream out;
    char code[16];
    for (const auto& r : log) {
        std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(r.code));
        std::string comment;
        out << code << " in ";
        if (r.code == kW95Write && r.in.size() == 20) {
            out << Hex(r.in.data(), 12) << " *" << Hex(r.flatBytes.data(), r.flatBytes.size()) << ' '
                << Hex(r.in.data() + 16, 4);
            comment = "write " + std::to_string(Word(r.in, 2)) + " at " + Place(Word(r.in, 0), Word(r.in, 1));
        } else {
            out << Hex(r.in.data(), r.in.size());
            if (r.code == kNtSetAddress && r.in.size() == 16)
                comment = "set address " + Place(Word(r.in, 1), Word(r.in, 2)) + ", " +
                          std::to_string(Word(r.in, 3)) + " bytes";
            if (r.code == kW95Read && r.in.size() == 12)
                comment = "read " + std::to_string(Word(r.in, 2)) + " at " + Place(Word(r.in, 0), Word(r.in, 1));
            if (r.code == kNtRead) comment = "read";
            if (r.code == kNtWrite) comment = "write";
        }
        // An output buffer of no size is a null pointer, any other one is not.
        out << " out " << r.outLen;
        if (r.outNull != (r.outLen == 0)) out << (r.outNull ? " null" : " buffer");
        out << "  # " << comment << '\n';
    }
    return out.str();
}

// The chain of the transcripts: MCB 9 the demo's type-5 segment unit,
// MCB 12 a type-4 segment unit with two inputs, the other numbers absent;
// or no unit at all.
class GoldenRig {
public:
    fake::Rig rig;

    GoldenRig(bool nt, sim::AbsentBehaviour absent, bool units) {
        rig.chain->absentBehaviour = absent;
        if (units) {
            rig.chain->addUnit(9, sim::DemoSegmentUnit(fake::kEpoch));
            sim::UnitConfig typeFour;
            typeFour.mailboxType = 4;
            typeFour.version = "0412-002";
            typeFour.detectors = 2;
            typeFour.channels = 1024;
            rig.chain->addUnit(12, typeFour);
        }
        if (nt)
            rig.ConnectNt();
        else
            rig.ConnectWin95();
        rig.OpenDriverOnly();
        rig.addin.InitDetectors();
    }
    std::string Record(const std::function<void(fake::Rig&)>& exchange) {
        rig.os.requestLog.clear();
        rig.os.logRequests = true;
        exchange(rig);
        rig.os.logRequests = false;
        EXPECT_EQ(rig.os.mutexDepth(), 0);
        return Transcript(rig.os.requestLog);
    }
};

struct Scenario {
    std::string name;     // file name without the protocol and extension
    std::string summary;  // the first lines of the file
    sim::AbsentBehaviour absent;
    std::function<void(fake::Rig&)> exchange;
    bool units = true;
};

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> scenarios = {
        {"show_vers",
         "SendCommand(9, 1, \"SHOW_VERS\") with segment 1 already selected: one exchange with MCB 9\n"
         "(mailbox type 5), answered by \"$F0919-005\" and \"%000000069\".",
         sim::AbsentBehaviour::FloatingBus,
         [](fake::Rig& rig) {
             rig.Record(9).nCurDevSeg = 1;
             char resp[16];
             std::int32_t len = 0, err = 0, status2 = 0;
             EXPECT_TRUE(rig.addin.SendCommand(9, 1, "SHOW_VERS", sizeof resp, resp, &len, &err, &status2));
             EXPECT_STREQ(resp, "$F0919-005");
         }},
        {"set_segm",
         "SetDevSeg(12, 2, 1): \"SET_SEGM 2\" to MCB 12 (mailbox type 4), answered by \"%000000069\".",
         sim::AbsentBehaviour::FloatingBus,
         [](fake::Rig& rig) {
             rig.Record(12).nCurDevSeg = -1;
             EXPECT_EQ(SetDevSeg(12, 2, 1), 1);
             EXPECT_EQ(rig.Record(12).nCurDevSeg, 2);
         }},
        {"get_data_2500",
         "GetData(9, 2, channels 0 to 2499, view 0) with segment 2 and view 0 already selected:\n"
         "10000 bytes from byte 16384 of MCB 9's data space (segment 2 starts at channel 4096).",
         sim::AbsentBehaviour::FloatingBus,
         [](fake::Rig& rig) {
             McbRecord& record = rig.Record(9);
             record.nCurDevSeg = 2;
             record.nCurView = 0;
             record.dwViewTick = rig.os.Now();
             std::vector<std::uint32_t> data(2500);
             EXPECT_EQ(rig.addin.GetData(9, 2, nullptr, nullptr, 0, 0, 2500, 0, data.data()), 1);
         }},
        {"set_data_2",
         "SetData(9, 2, channels 10 and 11, values 5 and 6) with segment 2 already selected, over the\n"
         "words 0xAB000001 and 0xCD000002 (data mask 0x00FFFFFF): each word read, then 0xAB000005 and\n"
         "0xCD000006 written, at bytes 16424 and 16428.",
         sim::AbsentBehaviour::FloatingBus,
         [](fake::Rig& rig) {
             rig.Record(9).nCurDevSeg = 2;
             rig.chain->sync();
             *rig.chain->unit(9)->state().word(2, 10) = 0xAB000001;
             *rig.chain->unit(9)->state().word(2, 11) = 0xCD000002;
             const std::uint32_t values[2] = {5, 6};
             EXPECT_EQ(rig.addin.SetData(9, 2, 0, 10, 2, 0, values), 1);
             EXPECT_EQ(*rig.chain->unit(9)->state().word(2, 11), 0xCD000006u);
         }},
        {"probe_absent_floating",
         "IsValidDetector(10, 1) re-probing the absent MCB 10 on a port where absent numbers read 0xFF:\n"
         "the pattern test fails at its first read, with either spacing.",
         sim::AbsentBehaviour::FloatingBus,
         [](fake::Rig& rig) {
             rig.os.Advance(2001);
             EXPECT_FALSE(rig.addin.IsValidDetector(10, 1));
             EXPECT_EQ(rig.Record(10).nMailboxType, -1);
         }},
        {"probe_absent_shared",
         "IsValidDetector(10, 1) re-probing MCB 10 on a port without units where every number shows\n"
         "one and the same memory: every pattern reads back, but so it does at the neighbour MCB 11,\n"
         "so the test fails with either spacing.",
         sim::AbsentBehaviour::SharedMemory,
         [](fake::Rig& rig) {
             rig.os.Advance(2001);
             EXPECT_FALSE(rig.addin.IsValidDetector(10, 1));
             EXPECT_EQ(rig.Record(10).nMailboxType, -1);
         },
         false},
    };
    return scenarios;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class Golden : public ::testing::TestWithParam<std::tuple<Scenario, bool>> {};

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

TEST_P(Golden, TheDriverRequestsAreExactlyTheRecordedOnes) {
    const Scenario& scenario = std::get<0>(GetParam());
    const bool nt = std::get<1>(GetParam());
    const std::string protocol = nt ? "nt" : "win95";
    const std::string path = std::string(KESTREL_SOURCE_DIR) + "/tests/golden/" + scenario.name + "_" + protocol + ".txt";

    GoldenRig golden(nt, scenario.absent, scenario.units);
    std::string text = "# " + scenario.name + ", " + (nt ? "Windows NT" : "Windows 95") + " driver protocol\n";
    std::istringstream summary(scenario.summary);
    for (std::string line; std::getline(summary, line);) text += "# " + line + "\n";
    text += golden.Record(scenario.exchange);

    const char* update = std::getenv("KESTREL_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(out) << "cannot write " << path;
        out << text;
        std::printf("rewrote %s\n", path.c_str());
        return;
    }
    const std::string expected = ReadFile(path);
    ASSERT_FALSE(expected.empty()) << "no golden file " << path << " (KESTREL_UPDATE_GOLDEN=1 writes it)";
    if (text == expected) return;
    // Name the first line that differs.
    std::istringstream a(expected), b(text);
    std::string want, got;
    for (int line = 1;; ++line) {
        const bool more = static_cast<bool>(std::getline(a, want));
        const bool moreGot = static_cast<bool>(std::getline(b, got));
        if (!more && !moreGot) break;
        if (!more || !moreGot || want != got) {
            ADD_FAILURE() << path << " line " << line << "\n  recorded: " << (more ? want : "<end>")
                          << "\n  now:      " << (moreGot ? got : "<end>");
            return;
        }
    }
    ADD_FAILURE() << path << " differs (line ends?)";
}

INSTANTIATE_TEST_SUITE_P(Transcripts, Golden,
                         ::testing::Combine(::testing::ValuesIn(Scenarios()), ::testing::Values(true, false)),
                         [](const ::testing::TestParamInfo<std::tuple<Scenario, bool>>& info) {
                             return std::get<0>(info.param).name + (std::get<1>(info.param) ? "_nt" : "_win95");
                         });

}  // namespace

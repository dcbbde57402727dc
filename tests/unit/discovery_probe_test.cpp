// Probing one MCB number: the three record states, every accepted and
// rejected reply form, the copy rule and the exact command sequence.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "discovery/probe.h"
#include "support/rig.h"

namespace {

using Texts = std::vector<std::string>;

// Host defaults that count their calls and leave a recognisable trace:
// words 0-9 become 0xC000 + i, word 15 0xBEEF, words 10-14 are not touched.
struct GuessCalls {
    int features = 0;
    int masks = 0;
    std::vector<int> dets;
    std::vector<std::string> versions;
    int words = 0;
};
GuessCalls g_guess;

std::int32_t CountingFeatures(const char* szVersion, std::int32_t nDet, std::uint32_t* pdwWords,
                              std::int32_t nWords) {
    ++g_guess.features;
    g_guess.dets.push_back(nDet);
    g_guess.versions.push_back(szVersion);
    g_guess.words = nWords;
    for (int i = 0; i < 10; ++i) pdwWords[i] = 0xC000u + static_cast<std::uint32_t>(i);
    pdwWords[15] = 0xBEEF;
    return 1;
}

std::int32_t CountingMasks(const char*, std::int32_t, std::uint32_t* pdwData, std::uint32_t* pdwAux) {
    ++g_guess.masks;
    *pdwData = 0x0000FFFF;
    *pdwAux = 0x00FF0000;
    return 1;
}

sim::UnitConfig Segment(int nDetectors, std::uint32_t nChannels = 4096) {
    return fake::SegmentUnit(nDetectors, nChannels);
}

// A "SHOW_CONF" reply in the unit's layout, 96 characters, or `length`.
std::string ConfReply(unsigned total, unsigned count, std::size_t length = 96) {
    char text[32];
    std::snprintf(text, sizeof text, "$J%05u%05u", total, count);
    std::string reply = text;
    reply.resize(length, ' ');
    return reply;
}

class Probe : public ::testing::Test {
protected:
    fake::Rig rig;

    void SetUp() override {
        g_guess = GuessCalls{};
        rig.os.hostFunctions["LocalGuessFeatures"] = reinterpret_cast<void*>(&CountingFeatures);
        rig.os.hostFunctions["LocalGuessMasks"] = reinterpret_cast<void*>(&CountingMasks);
    }
    void TearDown() override { EXPECT_EQ(rig.os.mutexDepth(), 0); }

    sim::Unit& Add(int nMcb, const sim::UnitConfig& config) { return *rig.chain->addUnit(nMcb, config); }
    void Connect() {
        rig.ConnectNt();
        rig.OpenDriverOnly();
    }
    // As the callers run it: under the add-in's mutex.
    void Run(int nMcb) {
        TMutexAccess access(rig.addin.mutex);
        ProbeMcb(nMcb);
    }
};

TEST_F(Probe, NoDriverOrNoUnitLeavesTheRecordAbsentAndTouchesNothingElse) {
    McbRecord& r = rig.Record(9);
    r.nMailboxType = 5;
    r.nDetectors = 3;
    r.bResponding = 1;
    r.bDevices = 1;
    r.wTotalChannels = 999;
    r.wChannels[0] = 111;
    r.wChannels[1] = 222;
    r.nCurDevSeg = 2;
    r.nCurView = 1;
    r.dwFeatures[0][0] = 0x1234;
    r.dwDataMask[0] = 0x55;
    r.tStartTime[0] = 77;
    r.dwLock[0] = 88;
    r.dwDetectorWord[0] = 99;
    std::strcpy(r.szVersion, "ABCDEFGH");
    rig.os.Advance(1234);

    Run(9);  // the driver is not open
    EXPECT_EQ(rig.os.driverRequests, 0u);
    EXPECT_EQ(r.dwProbeTick, rig.os.Now());
    auto expectAbsent = [&] {
        EXPECT_EQ(r.nMailboxType, -1);
        EXPECT_EQ(r.bResponding, 0);
        EXPECT_EQ(r.nDetectors, 0);
        EXPECT_EQ(r.bDevices, 0);
        EXPECT_EQ(r.wTotalChannels, 0);
        EXPECT_EQ(r.wChannels[0], 0);
        EXPECT_STREQ(r.szVersion, "0000-000");
        // What the absent state does not describe keeps its value.
        EXPECT_EQ(r.wChannels[1], 222);
        EXPECT_EQ(r.nCurDevSeg, 2);
        EXPECT_EQ(r.nCurView, 1);
        EXPECT_EQ(r.dwFeatures[0][0], 0x1234u);
        EXPECT_EQ(r.dwDataMask[0], 0x55u);
        EXPECT_EQ(r.tStartTime[0], 77);
        EXPECT_EQ(r.dwLock[0], 88u);
        EXPECT_EQ(r.dwDetectorWord[0], 99u);
    };
    expectAbsent();

    // Driver open, but nothing at MCB 9: the pattern test fails, no exchange.
    Connect();
    Add(10, Segment(1));
    Process().nDebugLevel = 3;
    Run(9);
    expectAbsent();
    EXPECT_GT(rig.os.driverRequests, 0u);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::mcb_dialog(nMcb=9) No Mailbox or hardware not open!\r\n"), 0);
    EXPECT_TRUE(rig.Unit(10).received().empty());
    EXPECT_EQ(g_guess.features, 0);
    EXPECT_EQ(g_guess.masks, 0);
}

TEST_F(Probe, ASegmentUnitIsIdentifiedConfiguredAndQueriedDetectorByDetector) {
    sim::UnitConfig config = Segment(2);
    config.detector.resize(2);
    config.detector[0].features = {0x00110000, 0x00002000, 0x20000000, 0x80000000, 0x11, 0x22, 0x33, 0x44};
    config.detector[0].dataMask = 0x00FFFFFF;
    config.detector[0].auxMask = 0xFF000000;
    config.detector[1].features = {0x1, 0x00002000, 0x2, 0x3, 0x99, 0x99, 0x99, 0x99};
    config.detector[1].dataMask = 0x0FFFFFFF;
    config.detector[1].auxMask = 0xC0000000;
    Add(9, config);
    Connect();
    Process().nDebugLevel = 1;

    Run(9);
    EXPECT_EQ(rig.Received(9), (Texts{"", "SHOW_VERS", "SHOW_CONF", "SET_SEGM 1", "SHOW_FEAT", "SHOW_FEAT_EXTE",
                                      "SHOW_CONF_MASK", "SET_SEGM 2", "SHOW_FEAT", "SHOW_CONF_MASK"}));
    const McbRecord& r = rig.Record(9);
    EXPECT_EQ(r.nMailboxType, 5);
    EXPECT_EQ(r.bResponding, 1);
    EXPECT_EQ(r.bDevices, 0);
    EXPECT_STREQ(r.szVersion, "0919-005");
    EXPECT_EQ(r.nDetectors, 2);
    EXPECT_EQ(r.wTotalChannels, 8192);
    EXPECT_EQ(r.wChannels[0], 4096);
    EXPECT_EQ(r.wChannels[1], 4096);
    EXPECT_EQ(r.nCurView, -1);
    EXPECT_EQ(rig.os.CountTrace("MCB 9 has 2 dets, 8192 total channels and 4096 chans per dev/seg\r\n"), 1);

    const std::uint32_t det1[] = {0x00110000, 0x00002000, 0x20000000, 0x80000000, 0x11, 0x22, 0x33, 0x44, 0xC008};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(r.dwFeatures[0][i], det1[i]) << "word " << i;
    EXPECT_EQ(r.dwFeatures[0][15], 0xBEEFu);
    // Detector 2 has no extended words: words 4-7 keep the host defaults.
    const std::uint32_t det2[] = {0x1, 0x00002000, 0x2, 0x3, 0xC004, 0xC005, 0xC006, 0xC007};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(r.dwFeatures[1][i], det2[i]) << "word " << i;
    EXPECT_EQ(r.dwDataMask[0], 0x00FFFFFFu);
    EXPECT_EQ(r.dwAuxMask[0], 0xFF000000u);
    EXPECT_EQ(r.dwDataMask[1], 0x0FFFFFFFu);
    EXPECT_EQ(r.dwAuxMask[1], 0xC0000000u);

    // The host defaults ran once per queried detector, with the version
    // text the probe had just read and all 16 words.
    EXPECT_EQ(g_guess.features, 2);
    EXPECT_EQ(g_guess.masks, 2);
    EXPECT_EQ(g_guess.dets, (std::vector<int>{1, 2}));
    EXPECT_EQ(g_guess.versions, (Texts{"0919-005", "0919-005"}));
    EXPECT_EQ(g_guess.words, 16);
}

TEST_F(Probe, AFourDeviceUnitIsNotAskedForItsConfigurationAndAlikeDevicesAreCopies) {
    sim::UnitConfig config = fake::DeviceUnit(16384);
    for (auto& det : config.detector) {
        det.features = {0x00010000, 0, 0, 0};
        det.dataMask = 0x00FFFFFF;
        det.auxMask = 0xFF000000;
    }
    Add(12, config);
    Connect();
    McbRecord& r = rig.Record(12);
    r.dwFeatures[0][12] = 0x1212;  // the host leaves it alone; so does the probe

    Run(12);
    EXPECT_EQ(rig.Received(12), (Texts{"", "SHOW_VERS", "SET_DEVI 1", "SHOW_FEAT", "SHOW_CONF_MASK"}));
    EXPECT_EQ(r.nMailboxType, 4);
    EXPECT_EQ(r.bDevices, 1);
    EXPECT_STREQ(r.szVersion, "8474-001");
    EXPECT_EQ(r.nDetectors, 4);
    EXPECT_EQ(r.wTotalChannels, 16384);
    for (int d = 0; d < 4; ++d) EXPECT_EQ(r.wChannels[d], 16384) << "device " << d + 1;
    EXPECT_EQ(r.dwFeatures[0][0], 0x00010000u);
    EXPECT_EQ(r.dwFeatures[0][5], 0xC005u);
    EXPECT_EQ(r.dwFeatures[0][12], 0x1212u);
    EXPECT_EQ(r.dwFeatures[0][15], 0xBEEFu);
    // Detector 1's final words and masks, not the host defaults.
    for (int d = 1; d < 4; ++d) {
        for (int i = 0; i < FEATURE_WORDS; ++i)
            EXPECT_EQ(r.dwFeatures[d][i], r.dwFeatures[0][i]) << "device " << d + 1 << " word " << i;
        EXPECT_EQ(r.dwDataMask[d], 0x00FFFFFFu);
        EXPECT_EQ(r.dwAuxMask[d], 0xFF000000u);
    }
    EXPECT_EQ(g_guess.features, 1);
    EXPECT_EQ(g_guess.masks, 1);
}

TEST_F(Probe, VersionRepliesAreAcceptedOnlyInTheirOneForm) {
    sim::Unit& unit = Add(9, Segment(2));
    Connect();
    struct Case {
        const char* reply;   // null: the unit refuses "SHOW_VERS"
        const char* version;
        int devices;
        int detectors;
    };
    const Case cases[] = {
        {"$F0919-005", "0919-005", 0, 2},
        {"$F0919-005AB", "0919-005", 0, 2},   // 12 characters: still accepted
        {"$F0919-005ABC", "0000-000", 0, 2},  // 13 characters
        {"$F0919-00", "0000-000", 0, 2},      // 9 characters
        {"#F0919-005", "0000-000", 0, 2},
        {"$G0919-005", "0000-000", 0, 2},
        {"$F4740-000", "4740-000", 0, 2},     // "474" one place too early
        {"$F1474-000", "1474-000", 1, 4},
        {nullptr, "0000-000", 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply ? c.reply : "refused");
        unit.faults.replies.clear();
        unit.faults.refusals.clear();
        if (c.reply)
            unit.faults.reply("SHOW_VERS", {c.reply});
        else
            unit.faults.refuse("SHOW_VERS", 5);
        unit.clearLogs();
        Run(9);
        const McbRecord& r = rig.Record(9);
        EXPECT_EQ(r.nMailboxType, 5);
        EXPECT_EQ(r.bResponding, 1);
        EXPECT_STREQ(r.szVersion, c.version);
        EXPECT_EQ(r.bDevices, c.devices);
        EXPECT_EQ(r.nDetectors, c.detectors);
        Texts received = rig.Received(9);
        if (c.devices) {
            // Four devices by the version text alone; the segment unit does
            // not know "SET_DEVI", so detector 1 keeps the host defaults.
            EXPECT_EQ(received, (Texts{"", "SHOW_VERS", "SET_DEVI 1"}));
            for (int d = 0; d < 4; ++d) EXPECT_EQ(r.wChannels[d], 16384);
            EXPECT_EQ(r.dwFeatures[0][0], 0xC000u);
        } else {
            // Configuration and feature pass run whatever the version said.
            EXPECT_EQ(received, (Texts{"", "SHOW_VERS", "SHOW_CONF", "SET_SEGM 1", "SHOW_FEAT", "SHOW_CONF_MASK"}));
            EXPECT_EQ(r.wChannels[0], 4096);
        }
    }
}

TEST_F(Probe, ConfigurationRepliesSetCountAndChannels) {
    sim::Unit& unit = Add(9, Segment(1));
    Connect();
    struct Case {
        std::string reply;
        int detectors;
        int total;
        int each;
    };
    const Case cases[] = {
        {ConfReply(8192, 2), 2, 8192, 4096},
        {ConfReply(8192, 0), 1, 8192, 8192},
        {ConfReply(16384, 3), 3, 16384, 5461},
        {ConfReply(8192, 40), 1, 8192, 8192},
        {ConfReply(8192, 33), 1, 8192, 8192},
        {ConfReply(100, 2), 2, 16384, 8192},
        {ConfReply(255, 1), 1, 16384, 16384},
        {ConfReply(256, 1), 1, 256, 256},
        {ConfReply(65536, 2), 2, 16384, 8192},   // 0 in 16 bits
        {ConfReply(65792, 1), 1, 256, 256},      // 256 in 16 bits
        {ConfReply(8192, 2, 95), 2, 8192, 4096},
        {ConfReply(8192, 2, 97), 2, 8192, 4096},
        {ConfReply(8192, 2, 94), 1, 16384, 16384},  // not accepted: defaults
        {ConfReply(8192, 2, 98), 1, 16384, 16384},
        {"$K" + ConfReply(8192, 2).substr(2), 1, 16384, 16384},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply + "| length " + std::to_string(c.reply.size()));
        unit.faults.reply("SHOW_CONF", {c.reply});
        McbRecord& r = rig.Record(9);
        std::memset(r.wChannels, 0xAB, sizeof r.wChannels);
        Run(9);
        EXPECT_EQ(r.nDetectors, c.detectors);
        EXPECT_EQ(r.wTotalChannels, c.total);
        for (int i = 0; i < c.detectors; ++i) EXPECT_EQ(r.wChannels[i], c.each) << "entry " << i;
        EXPECT_EQ(r.wChannels[c.detectors], 0xABAB) << "entry past the count";
    }
}

TEST_F(Probe, MoreThanSixteenReportedDetectorsAreLimitedToTheRecordsSixteen) {
    sim::UnitConfig config = Segment(16, 800);
    config.detector.resize(16);
    for (auto& det : config.detector) det.features = {0, 0x00002000, 0, 0};  // each queried
    sim::Unit& unit = Add(9, config);
    // The unit says 20 inputs share its 16000 channels.
    unit.faults.reply("SHOW_CONF", {ConfReply(16000, 20)});
    Connect();
    McbRecord& r = rig.Record(9);
    for (int i = 0; i < MAX_DETECTORS; ++i) {
        r.tStartTime[i] = 1000 + i;
        r.dwLock[i] = 2000u + static_cast<std::uint32_t>(i);
    }

    Run(9);
    EXPECT_EQ(r.nDetectors, 16);
    EXPECT_EQ(r.wTotalChannels, 16000);
    // Each segment is what the unit divides its memory into: 16000 / 20.
    for (int i = 0; i < MAX_DETECTORS; ++i) EXPECT_EQ(r.wChannels[i], 800) << "entry " << i;
    EXPECT_EQ(unit.timesReceived("SHOW_FEAT"), 16);
    EXPECT_EQ(unit.timesReceived("SET_SEGM 16"), 1);
    EXPECT_EQ(unit.timesReceived("SET_SEGM 17"), 0);
    EXPECT_EQ(g_guess.features, 16);
    // Nothing beyond the sixteenth entry of any per-detector array.
    EXPECT_EQ(r.nMailboxType, 5);
    for (int i = 0; i < MAX_DETECTORS; ++i) {
        EXPECT_EQ(r.tStartTime[i], 1000 + i);
        EXPECT_EQ(r.dwLock[i], 2000u + static_cast<std::uint32_t>(i));
    }
}

TEST_F(Probe, FeatureAndMaskRepliesAreAcceptedOnlyInTheirForms) {
    sim::Unit& unit = Add(9, Segment(1));  // masks 0x7FFFFFFF / 0x80000000
    Connect();
    struct Case {
        const char* feat;
        const char* exte;  // null: the unit's own reply
        const char* mask;
        std::vector<std::uint32_t> words;  // words 0-7
        std::uint32_t dataMask, auxMask;
        Texts sent;  // after "SET_SEGM 1"
    };
    const Texts featOnly = {"SHOW_FEAT"};
    const Texts featMask = {"SHOW_FEAT", "SHOW_CONF_MASK"};
    const Texts all = {"SHOW_FEAT", "SHOW_FEAT_EXTE", "SHOW_CONF_MASK"};
    const std::vector<std::uint32_t> defaults = {0xC000, 0xC001, 0xC002, 0xC003, 0xC004, 0xC005, 0xC006, 0xC007};
    const Case cases[] = {
        {"FEAT 15 26 37", nullptr, nullptr, {15, 26, 37, 0, 0xC004, 0xC005, 0xC006, 0xC007}, 0x7FFFFFFF, 0x80000000,
         featMask},
        {"FEAT 5 6 7", nullptr, nullptr, defaults, 0x0000FFFF, 0x00FF0000, featOnly},  // 10 characters
        {"FEAT15,26,37,48", nullptr, nullptr, defaults, 0x0000FFFF, 0x00FF0000, featOnly},  // no blank
        {"FEAR 15 26 37 48", nullptr, nullptr, defaults, 0x0000FFFF, 0x00FF0000, featOnly},
        {"FEAT\t1\t2\t3\t2147483648", "FEAT 9 8 7 6", nullptr, {1, 2, 3, 0x80000000, 9, 8, 7, 6}, 0x7FFFFFFF,
         0x80000000, all},
        {"FEAT 1 2 3 2147483648", "FEAT 9", nullptr, {1, 2, 3, 0x80000000, 0xC004, 0xC005, 0xC006, 0xC007},
         0x7FFFFFFF, 0x80000000, all},
        {"FEAT 4294967295 0 0 0", nullptr, "CONF_MASK 255 256", {0xFFFFFFFF, 0, 0, 0, 0xC004, 0xC005, 0xC006, 0xC007},
         255, 256, featMask},
        {"FEAT 1 2 3 4", nullptr, "CONF_MASK 777", {1, 2, 3, 4, 0xC004, 0xC005, 0xC006, 0xC007}, 777, 0, featMask},
        {"FEAT 1 2 3 4", nullptr, "CONF_MASK 77", {1, 2, 3, 4, 0xC004, 0xC005, 0xC006, 0xC007}, 0x0000FFFF,
         0x00FF0000, featMask},  // 12 characters
        {"FEAT 1 2 3 4", nullptr, "CONF_MASK12345678", {1, 2, 3, 4, 0xC004, 0xC005, 0xC006, 0xC007}, 0x0000FFFF,
         0x00FF0000, featMask},
        {"FEAT 1 2 3 4", nullptr, "CXNF_MASK 1 2", {1, 2, 3, 4, 0xC004, 0xC005, 0xC006, 0xC007}, 0x0000FFFF,
         0x00FF0000, featMask},
        {"FEAT 1 2 3 4", nullptr, "CONF_MXSK 1 2", {1, 2, 3, 4, 0xC004, 0xC005, 0xC006, 0xC007}, 0x0000FFFF,
         0x00FF0000, featMask},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.feat) + " / " + (c.exte ? c.exte : "-") + " / " + (c.mask ? c.mask : "-"));
        unit.faults.replies.clear();
        unit.faults.reply("SHOW_FEAT", {c.feat});
        if (c.exte) unit.faults.reply("SHOW_FEAT_EXTE", {c.exte});
        if (c.mask) unit.faults.reply("SHOW_CONF_MASK", {c.mask});
        unit.clearLogs();
        Run(9);
        const McbRecord& r = rig.Record(9);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(r.dwFeatures[0][i], c.words[i]) << "word " << i;
        EXPECT_EQ(r.dwDataMask[0], c.dataMask);
        EXPECT_EQ(r.dwAuxMask[0], c.auxMask);
        Texts expected = {"", "SHOW_VERS", "SHOW_CONF", "SET_SEGM 1"};
        expected.insert(expected.end(), c.sent.begin(), c.sent.end());
        EXPECT_EQ(rig.Received(9), expected);
    }
}

TEST_F(Probe, DetectorsAreQueriedOneByOneOnlyWhenDetectorOneSaysTheyDiffer) {
    sim::UnitConfig config = Segment(3);
    config.detector.resize(3);
    for (int d = 0; d < 3; ++d) config.detector[d].features = {0x10u + d, 0, 0, 0};
    config.detector[0].dataMask = 0x00FFFFFF;
    config.detector[0].auxMask = 0x01000000;
    sim::Unit& unit = Add(9, config);
    Connect();

    Run(9);
    EXPECT_EQ(unit.timesReceived("SHOW_FEAT"), 1);
    EXPECT_EQ(unit.timesReceived("SET_SEGM 2"), 0);
    EXPECT_EQ(rig.Record(9).dwFeatures[2][0], 0x10u);
    // Detector 1's masks go with its words.
    EXPECT_EQ(rig.Record(9).dwDataMask[2], 0x00FFFFFFu);
    EXPECT_EQ(rig.Record(9).dwAuxMask[2], 0x01000000u);
    EXPECT_EQ(g_guess.features, 1);

    // Bit 13 of word 1 on detector 1 only: every detector is asked.
    config.detector[0].features[1] = 0x2000;
    sim::Unit& differing = Add(9, config);
    Run(9);
    EXPECT_EQ(differing.timesReceived("SHOW_FEAT"), 3);
    EXPECT_EQ(rig.Record(9).dwFeatures[1][0], 0x11u);
    EXPECT_EQ(rig.Record(9).dwFeatures[2][0], 0x12u);
    EXPECT_EQ(g_guess.features, 4);
}

TEST_F(Probe, AUnitThatTakesNoCommandIsLeftFailed) {
    sim::Unit& unit = Add(9, Segment(2));
    unit.faults.takeDelayMs.reset();
    unit.faults.takeZeroLength = false;
    Connect();
    Process().nDebugLevel = 1;

    Run(9);
    const McbRecord& r = rig.Record(9);
    EXPECT_EQ(r.nMailboxType, -1);
    EXPECT_EQ(r.bResponding, 0);
    EXPECT_EQ(r.bDevices, 0);
    EXPECT_EQ(r.nDetectors, 1);
    EXPECT_EQ(r.wTotalChannels, 16384);
    EXPECT_EQ(r.wChannels[0], 16384);
    EXPECT_STREQ(r.szVersion, "0000-000");
    EXPECT_TRUE(unit.received().empty());
    // "SHOW_CONF" goes no further than the dialog's mailbox check.
    EXPECT_EQ(rig.os.CountTrace("Kestrel::mcb_dialog(nMcb=9) No Mailbox or hardware not open!\r\n"), 1);
    EXPECT_EQ(rig.os.CountTrace("MCB 9 has 1 dets, 16384 total channels and 16384 chans per dev/seg\r\n"), 1);
    // Detector 1 carries the host defaults for the unknown version.
    EXPECT_EQ(g_guess.versions, (Texts{"0000-000"}));
    EXPECT_EQ(g_guess.masks, 1);
    EXPECT_EQ(r.dwFeatures[0][0], 0xC000u);
    EXPECT_EQ(r.dwDataMask[0], 0x0000FFFFu);
}

}  // namespace

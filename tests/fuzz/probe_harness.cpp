// The probe's parsers: version, configuration, feature and mask replies.
#include <cstring>
#include <string>

#include "discovery/probe.h"
#include "fuzz/harness_registry.h"
#include "fuzz/reply_harness.h"
#include "fuzz/reply_rig.h"

namespace fuzz {
namespace {

constexpr std::uint16_t kChannelMark = 0xA5A5;
constexpr std::int32_t kStartMark = 0x5A5A5A5A;
constexpr std::uint32_t kFeatureMark = 0x11111111;
constexpr std::uint32_t kDataGuess = 0x0000FFFF, kAuxGuess = 0x00FF0000;

// Host defaults with a recognisable result: word i becomes 0xC000 + i.
std::int32_t GuessFeatures(const char*, std::int32_t, std::uint32_t* pdwWords, std::int32_t nWords) {
    for (std::int32_t i = 0; i < nWords; ++i) pdwWords[i] = 0xC000u + static_cast<std::uint32_t>(i);
    return 1;
}

std::int32_t GuessMasks(const char*, std::int32_t, std::uint32_t* pdwData, std::uint32_t* pdwAux) {
    *pdwData = kDataGuess;
    *pdwAux = kAuxGuess;
    return 1;
}

// Marks what a probe must leave alone (or may only write where it is due),
// so that writes out of place show.
void Mark(McbRecord& record) {
    for (int i = 0; i < MAX_DETECTORS; ++i) {
        record.wChannels[i] = kChannelMark;
        record.tStartTime[i] = kStartMark;
        record.dwLock[i] = static_cast<std::uint32_t>(kStartMark);
        record.dwDetectorWord[i] = static_cast<std::uint32_t>(kStartMark);
        record.dwDataMask[i] = kFeatureMark;
        record.dwAuxMask[i] = kFeatureMark;
        for (int w = 0; w < FEATURE_WORDS; ++w) record.dwFeatures[i][w] = kFeatureMark;
    }
}

void Probe(fake::Rig& rig) {
    rig.os.hostFunctions["LocalGuessFeatures"] = reinterpret_cast<void*>(&GuessFeatures);
    rig.os.hostFunctions["LocalGuessMasks"] = reinterpret_cast<void*>(&GuessMasks);
    Mark(rig.Record(kMcb));
    TMutexAccess access(rig.addin.mutex);
    ProbeMcb(kMcb);
}

// Rules for every probed record, whatever the replies were.
bool RecordSane(fake::Rig& rig) {
    const McbRecord& record = rig.Record(kMcb);
    if (record.nDetectors < 0 || record.nDetectors > MAX_DETECTORS) return false;
    if (std::memchr(record.szVersion, '\0', sizeof record.szVersion) == nullptr) return false;
    if (record.bResponding != 0 && record.bResponding != 1) return false;
    if (record.bDevices != 0 && record.bDevices != 1) return false;
    const int written = record.nDetectors > 0 ? record.nDetectors : 1;
    for (int i = 0; i < MAX_DETECTORS; ++i) {
        if (i >= written && record.wChannels[i] != kChannelMark) return false;
        if (record.tStartTime[i] != kStartMark) return false;
        if (record.dwLock[i] != static_cast<std::uint32_t>(kStartMark)) return false;
        if (record.dwDetectorWord[i] != static_cast<std::uint32_t>(kStartMark)) return false;
        if (i >= record.nDetectors) {
            for (int w = 0; w < FEATURE_WORDS; ++w)
                if (record.dwFeatures[i][w] != kFeatureMark) return false;
            if (record.dwDataMask[i] != kFeatureMark || record.dwAuxMask[i] != kFeatureMark) return false;
        }
    }
    return rig.os.mutexDepth() == 0;
}

bool IsDigits(const std::string& text, std::size_t from, std::size_t count) {
    if (text.size() < from + count) return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// `prefix` then `count` numbers of 1 to 9 digits, each after one blank, and
// nothing else: a reply any parser must read exactly. The numbers go to
// `values`.
bool PlainNumbers(const std::string& text, const std::string& prefix, int count, std::uint32_t* values) {
    if (text.compare(0, prefix.size(), prefix) != 0) return false;
    std::size_t at = prefix.size();
    for (int i = 0; i < count; ++i) {
        if (at >= text.size() || text[at] != ' ') return false;
        std::size_t digits = 0;
        std::uint32_t value = 0;
        while (at + 1 + digits < text.size() && text[at + 1 + digits] >= '0' && text[at + 1 + digits] <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(text[at + 1 + digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 9) return false;
        values[i] = value;
        at += 1 + digits;
    }
    return at == text.size();
}

}  // namespace

bool RunVersion(const std::uint8_t* data, std::size_t size) {
    const std::string text = Text(data, size);
    fake::Rig rig;
    sim::Unit* unit = AddUnit(rig, fake::SegmentUnit(1, 4096));
    unit->faults.reply("SHOW_VERS", {text});
    Probe(rig);
    if (!RecordSane(rig)) return false;
    const McbRecord& record = rig.Record(kMcb);
    if (record.bResponding != 1 || record.nMailboxType != 5) return false;
    const std::size_t length = std::strlen(record.szVersion);
    if (length > VERSION_CHARS) return false;
    const bool accepted = text.size() >= 10 && text.size() <= 12 && text.compare(0, 2, "$F") == 0;
    if (std::strcmp(record.szVersion, "0000-000") != 0) {
        // Only a "$F" reply names a version, and then its own characters.
        if (text.compare(0, 2, "$F") != 0 || text.compare(2, length, record.szVersion) != 0) return false;
    }
    // The four-device mark is read from the reply itself, so a 0x00 early in
    // the reply shortens the stored version but not the mark.
    if (record.bDevices != (accepted && text.compare(3, 3, "474") == 0 ? 1 : 0)) return false;
    if (record.bDevices) {
        if (record.nDetectors != 4 || record.wTotalChannels != 16384) return false;
    } else if (record.nDetectors != 1 || record.wChannels[0] != 4096) {
        return false;
    }
    return true;
}

bool RunConfiguration(const std::uint8_t* data, std::size_t size) {
    const std::string text = Text(data, size);
    fake::Rig rig;
    sim::Unit* unit = AddUnit(rig, fake::SegmentUnit(1, 4096));
    unit->faults.reply("SHOW_CONF", {text});
    Probe(rig);
    if (!RecordSane(rig)) return false;
    const McbRecord& record = rig.Record(kMcb);
    if (record.bDevices != 0 || record.nDetectors < 1) return false;
    if (record.wTotalChannels < 256) return false;
    for (int i = 0; i < record.nDetectors; ++i)
        if (record.wChannels[i] != record.wChannels[0]) return false;
    // A segment is the total divided among at most 32 inputs.
    if (record.wChannels[0] > record.wTotalChannels || record.wChannels[0] < record.wTotalChannels / 32) return false;
    if (text.size() >= 95 && text.size() <= 97 && text.compare(0, 2, "$J") == 0 && IsDigits(text, 2, 10) &&
        std::memchr(text.data(), '\0', text.size()) == nullptr) {
        const unsigned long total = std::stoul(text.substr(2, 5));
        const unsigned long count = std::stoul(text.substr(7, 5));
        const unsigned long reported = count >= 1 && count <= 32 ? count : 1;
        const unsigned long detectors = reported > 16 ? 16 : reported;
        const unsigned long expectTotal = (total & 0xFFFF) >= 256 ? (total & 0xFFFF) : 16384;
        if (static_cast<unsigned long>(record.nDetectors) != detectors) return false;
        if (record.wTotalChannels != expectTotal || record.wChannels[0] != expectTotal / reported) return false;
    }
    return true;
}

bool RunFeatures(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> texts = Texts(data, size, 2);
    fake::Rig rig;
    sim::Unit* unit = AddUnit(rig, fake::SegmentUnit(1, 4096));
    unit->faults.reply("SHOW_FEAT", {texts[0]});
    unit->faults.reply("SHOW_FEAT_EXTE", {texts[1]});
    Probe(rig);
    if (!RecordSane(rig)) return false;
    const McbRecord& record = rig.Record(kMcb);
    if (record.nDetectors != 1) return false;
    const std::uint32_t* words = record.dwFeatures[0];
    // The replies carry words 0-3 and 4-7; the rest stay as guessed.
    for (int w = 8; w < FEATURE_WORDS; ++w)
        if (words[w] != 0xC000u + static_cast<std::uint32_t>(w)) return false;
    std::uint32_t expected[4];
    if (!(words[3] & FEAT3_EXTENDED)) {
        for (int w = 4; w < 8; ++w)
            if (words[w] != 0xC000u + static_cast<std::uint32_t>(w)) return false;
        if (PlainNumbers(texts[0], "FEAT", 4, expected) && texts[0].size() > 10)
            for (int w = 0; w < 4; ++w)
                if (words[w] != expected[w]) return false;
    } else if (PlainNumbers(texts[1], "FEAT", 4, expected) && texts[1].size() > 10) {
        for (int w = 0; w < 4; ++w)
            if (words[4 + w] != expected[w]) return false;
    }
    return true;
}

bool RunMask(const std::uint8_t* data, std::size_t size) {
    const std::string text = Text(data, size);
    fake::Rig rig;
    sim::Unit* unit = AddUnit(rig, fake::SegmentUnit(1, 4096));
    unit->faults.reply("SHOW_FEAT", {"FEAT 1 2 3 4"});
    unit->faults.reply("SHOW_CONF_MASK", {text});
    Probe(rig);
    if (!RecordSane(rig)) return false;
    const McbRecord& record = rig.Record(kMcb);
    if (record.nDetectors != 1 || record.dwFeatures[0][3] != 4) return false;
    if (text.compare(0, 2, "CO") != 0)
        return record.dwDataMask[0] == kDataGuess && record.dwAuxMask[0] == kAuxGuess;
    std::uint32_t expected[2];
    if (text.size() > 12 && text.size() < 128 && PlainNumbers(text, "CONF_MASK", 2, expected))
        return record.dwDataMask[0] == expected[0] && record.dwAuxMask[0] == expected[1];
    return true;
}

namespace {
const Registration kVersion("version", &RunVersion);
const Registration kConfiguration("configuration", &RunConfiguration);
const Registration kFeatures("features", &RunFeatures);
const Registration kMask("mask", &RunMask);
}  // namespace

}  // namespace fuzz

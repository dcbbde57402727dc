// The operations' parsers: activity, date and time, application data.
#include <cstring>
#include <memory>
#include <string>

#include "discovery/probe.h"
#include "fuzz/harness_registry.h"
#include "fuzz/reply_harness.h"
#include "fuzz/reply_rig.h"

namespace fuzz {
namespace {

void Probe(fake::Rig& rig) {
    TMutexAccess access(rig.addin.mutex);
    ProbeMcb(kMcb);
}

bool Printable(const std::string& text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, std::strlen(prefix), prefix) == 0; }

}  // namespace

bool RunActivity(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return true;
    const bool devices = (data[0] & 0x80) != 0;
    const std::int32_t nDet = data[0] & 0x1F;  // 0 and 5 to 31 are no detector
    const std::string text = Text(data + 1, size - 1);
    fake::Rig rig;
    sim::UnitConfig config = fake::SegmentUnit(4, 256);
    if (devices) {
        config.mailboxType = 4;
        config.version = "8474-001";
    }
    sim::Unit* unit = AddUnit(rig, config);
    Probe(rig);
    if (rig.Record(kMcb).nDetectors != 4 || rig.Record(kMcb).bDevices != (devices ? 1 : 0)) return false;
    unit->faults.reply(devices ? "SHOW_ACTI_DEVI" : "SHOW_ACTI", {text});

    std::int32_t status = 7;
    const bool active = rig.addin.IsActive(kMcb, nDet, &status);
    if (rig.os.mutexDepth() != 0) return false;
    if (status != 1 && status != -1 && status != -3) return false;
    const bool valid = nDet >= 1 && nDet <= 4;
    if (!valid) return status == -1 && active;
    if (status != 1) {
        // A usable answer must be taken as one.
        if (text.size() >= 10 && text.size() < 16 && StartsWith(text, "$C") && Printable(text)) return false;
        return active && status == -3;
    }
    if (!StartsWith(text, "$C")) return false;
    if (text.size() >= 10 && text.size() < 16 && Printable(text) &&
        text.find_first_not_of("0123456789", 2) >= 7) {
        const unsigned long mask = std::stoul(text.substr(2, 5)) & 0xFFFF;
        if (active != ((mask >> (nDet - 1) & 1) != 0)) return false;
    }
    return true;
}

bool RunStartTime(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> texts = Texts(data, size, 4);
    fake::Rig rig;
    sim::Unit* unit = AddUnit(rig, fake::SegmentUnit(1, 256, {FEAT0_MCB_CLOCK, 0, 0, 0}));
    Probe(rig);
    if (rig.Record(kMcb).nDetectors != 1 || !(rig.Record(kMcb).dwFeatures[0][0] & FEAT0_MCB_CLOCK)) return false;
    // No MCB time converts to 1 (the calendar starts in 1980).
    rig.Record(kMcb).tStartTime[0] = 1;
    rig.os.wallClock = 1700000500;
    unit->faults.reply("SHOW_DATE", {texts[0]});
    unit->faults.reply("SHOW_DATE_STAR", {texts[1]});
    unit->faults.reply("SHOW_TIME", {texts[2]});
    unit->faults.reply("SHOW_TIME_STAR", {texts[3]});

    std::uint32_t now = 7;
    const std::uint32_t start = rig.addin.LocalGetStartTime(kMcb, 1, &now);
    if (rig.os.mutexDepth() != 0) return false;
    if (start == 1) return now == 1700000500;
    // A start from the MCB: both its replies were time replies, and the
    // time fits a 32-bit signed value.
    if (start > 0x7FFFFFFF || !StartsWith(texts[1], "$N") || !StartsWith(texts[3], "$N")) return false;
    if (texts[1].size() < 11 || texts[3].size() < 11) return false;
    if ((!StartsWith(texts[0], "$N") || !StartsWith(texts[2], "$N")) && now != 0) return false;
    return now <= 0x7FFFFFFF;
}

bool RunAppData(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return true;
    const std::int32_t nSize = data[0] % 140 + 1;
    const std::string text = Text(data + 1, size - 1);
    fake::Rig rig;
    sim::Unit* unit = AddUnit(rig, fake::SegmentUnit(1, 256, {FEAT0_MCB_APPDATA, 0, 0, 0}));
    Probe(rig);
    if (rig.Record(kMcb).nDetectors != 1) return false;
    unit->faults.reply("SHOW_DATA_APP", {text});

    // Exactly as large as announced, so any write past it is caught.
    std::unique_ptr<char[]> value(new char[static_cast<std::size_t>(nSize)]);
    std::memset(value.get(), 'x', static_cast<std::size_t>(nSize));
    const std::string fallback = "default value";
    const std::int32_t length = rig.addin.GetAppData(kMcb, 1, "Colour", fallback.c_str(), value.get(), nSize);
    if (rig.os.mutexDepth() != 0) return false;
    if (length < 0 || length > nSize - 1) return false;
    if (std::memchr(value.get(), '\0', static_cast<std::size_t>(nSize)) != value.get() + length) return false;
    const std::string got(value.get(), static_cast<std::size_t>(length));
    if (!StartsWith(text, "$F")) return got == fallback.substr(0, static_cast<std::size_t>(nSize - 1));
    // The value is the reply's own text, without line ends at its end.
    if (text.compare(2, got.size(), got) != 0) return false;
    if (length > 0 && (got.back() == '\r' || got.back() == '\n')) return false;
    if (Printable(text) && text.size() <= 130)
        return got == text.substr(2, static_cast<std::size_t>(nSize - 1));
    return true;
}

namespace {
const Registration kActivity("activity", &RunActivity);
const Registration kStartTime("start_time", &RunStartTime);
const Registration kAppData("app_data", &RunAppData);
}  // namespace

}  // namespace fuzz

#include "fuzz/harnesses.h"

#include <cstring>

#include "discovery/probe.h"
#include "protocol/dialog.h"
#include "protocol/status_record.h"
#include "support/guarded_buffer.h"
#include "support/rig.h"
#ifndef _WIN32
#include "platform/posix/ini_text.h"
#endif

namespace fuzz {
namespace {

constexpr int kMcb = 9;
constexpr std::size_t kMaxText = 2000;  // longer replies say nothing new to buffers of at most 131 bytes

// The input split at 0x00 bytes into `count` texts; the last one takes the rest.
std::vector<std::string> Texts(const std::uint8_t* data, std::size_t size, std::size_t count) {
    std::vector<std::string> texts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && texts.size() < count) texts.emplace_back();
        else if (texts.back().size() < kMaxText) texts.back() += static_cast<char>(data[i]);
    }
    texts.resize(count);
    return texts;
}

// One segment unit with `features` in word 0 (four devices when `devices`),
// probed as start-up would after the given commands got the given replies.
struct Probed {
    fake::Rig rig;
    Probed(const std::vector<std::string>& commands, const std::vector<std::string>& replies,
           std::uint32_t features = 0, bool devices = false) {
        sim::UnitConfig config = fake::SegmentUnit(1, 4096, {features, 0, 0, 0x80000000});
        if (devices) config.version = "8474-001", config.mailboxType = 4;
        sim::Unit* unit = rig.chain->addUnit(kMcb, config);
        for (std::size_t i = 0; i < commands.size(); ++i) unit->faults.reply(commands[i], {replies[i]});
        rig.ConnectNt();
        rig.OpenDriverOnly();
        rig.os.requestCostMicros = 1000;  // a reply that leads to a time-out costs few polls
        TMutexAccess access(rig.addin.mutex);
        ProbeMcb(kMcb);
    }
    // What any probe must leave: counts in range, a terminated version.
    bool Sane() {
        const McbRecord& r = rig.Record(kMcb);
        return r.nDetectors >= 1 && r.nDetectors <= MAX_DETECTORS && r.wTotalChannels >= 256 &&
               std::memchr(r.szVersion, 0, sizeof r.szVersion) && (r.bResponding == 0 || r.bResponding == 1) &&
               rig.os.mutexDepth() == 0;
    }
};

bool Probe(const std::vector<std::string>& commands, const std::uint8_t* data, std::size_t size) {
    return Probed(commands, Texts(data, size, commands.size())).Sane();
}

bool Dialog(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return true;
    const std::int32_t respSize = data[0] % 40;
    fake::Rig rig;
    sim::Unit* unit = rig.chain->addUnit(kMcb, sim::UnitConfig{});
    rig.ConnectNt();
    rig.OpenDriverOnly();
    rig.Record(kMcb).nMailboxType = data[1] == 3 ? 0 : 5;  // 3: a unit never probed
    rig.os.requestCostMicros = 500;
    // From byte 2: 0x00 ends a message, 0x01 an exchange.
    unit->faults.scripted.emplace_back(1);
    for (std::size_t i = 2; i < size; ++i) {
        auto& exchange = unit->faults.scripted.back();
        if (data[i] > 1) exchange.back() += static_cast<char>(data[i]);
        else if (data[i] == 0) exchange.emplace_back();
        else unit->faults.scripted.emplace_back(1);
    }
    fake::GuardedBuffer resp(static_cast<std::size_t>(respSize));
    std::int32_t len = -7, err = -7, st = -7;
    const std::int32_t result = mcb_dialog(kMcb, "SHOW_VERS", 9, respSize, resp.chars(), &len, &err, &st);
    if (!resp.Intact() || (result != 0 && result != 1)) return false;
    if (respSize > 0 && (len < 0 || len > respSize - 1 || resp.chars()[len] != '\0')) return false;
    if (result == 0) return (err == -1 || err == -2 || err == -3) && st == 0 && len == 0;
    // A status record of ten characters: two fields of -99 to 999.
    fake::GuardedBuffer record(10);
    std::memcpy(record.chars(), data + 2, std::min<std::size_t>(size - 2, 10));
    std::int32_t first = -1000, second = -1000;
    const bool good = ParseStatusRecord(record.chars(), &first, &second);
    if (record.chars()[0] != '%' && (good || first != -1000)) return false;
    return err >= -99 && err <= 999 && st >= -99 && st <= 999 && record.Intact();
}

bool Activity(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return true;
    const bool devices = (data[0] & 0x80) != 0;
    const std::int32_t nDet = data[0] & 0x1F;  // 0 and 5 to 31 are no detector
    Probed probed({devices ? "SHOW_ACTI_DEVI" : "SHOW_ACTI"}, Texts(data + 1, size - 1, 1), 0, devices);
    std::int32_t status = 7;
    const bool active = probed.rig.addin.IsActive(kMcb, nDet, &status);
    if (nDet < 1 || nDet > probed.rig.Record(kMcb).nDetectors) return active && status == -1;
    return probed.Sane() && (status == 1 || (status == -3 && active));
}

bool StartTime(const std::uint8_t* data, std::size_t size) {
    Probed probed({"SHOW_DATE", "SHOW_DATE_STAR", "SHOW_TIME", "SHOW_TIME_STAR"}, Texts(data, size, 4),
                  FEAT0_MCB_CLOCK);
    std::uint32_t now = 7;
    const std::uint32_t start = probed.rig.addin.LocalGetStartTime(kMcb, 1, &now);
    return probed.Sane() && start <= 0x7FFFFFFF && now <= 0x7FFFFFFF;
}

bool AppData(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return true;
    const std::int32_t nSize = data[0] % 140 + 1;
    Probed probed({"SHOW_DATA_APP"}, Texts(data + 1, size - 1, 1), FEAT0_MCB_APPDATA);
    fake::GuardedBuffer value(static_cast<std::size_t>(nSize), 'x');
    const std::int32_t length = probed.rig.addin.GetAppData(kMcb, 1, "Colour", "default value", value.chars(), nSize);
    return probed.Sane() && value.Intact() && length >= 0 && length <= nSize - 1 &&
           std::memchr(value.chars(), 0, static_cast<std::size_t>(nSize)) == value.chars() + length;
}

#ifndef _WIN32
// Every section and key the reader lists is found again, survives a round
// trip through the text, takes a new value and can be removed.
bool Profile(const std::uint8_t* data, std::size_t size) {
    using platform::posix::IniText;
    const IniText ini(std::string(reinterpret_cast<const char*>(data), std::min(size, kMaxText)));
    const IniText again(ini.Text());
    if (again.Sections() != ini.Sections()) return false;
    for (const std::string& section : ini.Sections()) {
        if (again.Keys(section) != ini.Keys(section) || section.find('\n') != std::string::npos) return false;
        for (const std::string& key : ini.Keys(section)) {
            std::string value = "\1", other = "\2";
            if (!ini.Get(section, key, &value) || !again.Get(section, key, &other) || value != other) return false;
            if (key.find_first_of("=\n") != std::string::npos || value.find('\n') != std::string::npos) return false;
            IniText edited = ini;
            edited.Set(section, key, "fuzz value");
            if (!edited.Get(section, key, &value) || value != "fuzz value") return false;
            if (!edited.RemoveKey(section, key)) return false;
        }
        if (IniText(ini).RemoveSection(section) == false) return false;
    }
    return true;
}
#endif

}  // namespace

const std::vector<std::pair<std::string, Harness>>& Harnesses() {
    static const std::vector<std::pair<std::string, Harness>> harnesses = {
        {"dialog", &Dialog},
        {"version", [](const std::uint8_t* d, std::size_t n) { return Probe({"SHOW_VERS"}, d, n); }},
        {"configuration", [](const std::uint8_t* d, std::size_t n) { return Probe({"SHOW_CONF"}, d, n); }},
        {"features",
         [](const std::uint8_t* d, std::size_t n) { return Probe({"SHOW_FEAT", "SHOW_FEAT_EXTE"}, d, n); }},
        {"mask", [](const std::uint8_t* d, std::size_t n) { return Probe({"SHOW_CONF_MASK"}, d, n); }},
        {"activity", &Activity},
        {"start_time", &StartTime},
        {"app_data", &AppData},
#ifndef _WIN32
        {"profile", &Profile},
#endif
    };
    return harnesses;
}

}  // namespace fuzz

#include "bench/model.h"

#include <algorithm>
#include <cstdio>

namespace bench {
namespace model {

namespace {

constexpr std::size_t kStatusLength = 10;  // "%" and three 3-digit fields
constexpr std::size_t kStatusBuffer = 16;  // status messages are read up to this
constexpr std::uint32_t kW95Chunk = 1024;
constexpr int kFirstMcb = 9;
constexpr int kLastMcb = 16;
constexpr int kMaxDetectors = 16;

constexpr std::uint32_t kDetsDiffer = 0x00002000;
constexpr std::uint32_t kExtended = 0x80000000;
constexpr std::uint32_t kAppDataInMcb = 0x00100000;

// Response sizes the probe and the named values hand to mcb_dialog.
constexpr int kVersionSize = 16;
constexpr int kConfSize = 100;
constexpr int kQuerySize = 128;
constexpr int kAppDataSize = 131;

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

// --- the mailbox-type test, in mailbox bytes ---------------------------------

constexpr std::uint64_t kSaveScratch = 2;
// Three patterns: write p, three times (write q, read p back), write q,
// read the neighbour.
constexpr std::uint64_t kPatternPass = 3 * (1 + 3 * 2 + 1 + 1);
// Write p, write q, read: the first read-back already differs.
constexpr std::uint64_t kPatternFailFirst = 3;

Cost Detect(const sim::UnitConfig* unit) {
    Cost cost;
    if (!unit) {
        // Both mappings fail at once; the saved bytes go back after each.
        cost.MailboxBytes(kSaveScratch + kPatternFailFirst + kSaveScratch + kSaveScratch + kPatternFailFirst +
                          kSaveScratch);
    } else if (unit->mailboxType == 4) {
        // Passes the type-4 test; the data space shows offset 1 (one read),
        // and again after offset 1 and 2 are rewritten (two writes, a read).
        cost.MailboxBytes(kSaveScratch + kPatternPass + 1 + 3);
    } else {
        // Type-4 addresses miss a type-5 mailbox: fail, restore, then pass
        // with the type-5 spacing.
        cost.MailboxBytes(kSaveScratch + kPatternFailFirst + kSaveScratch + kSaveScratch + kPatternPass);
    }
    return cost;
}

// --- what a unit answers -------------------------------------------------------

bool FourDevice(const sim::UnitConfig& unit) {
    return unit.version.size() >= 4 && unit.version.compare(1, 3, "474") == 0;
}

std::size_t FeatureReply(const sim::DetectorConfig& det, int first) {
    const auto& w = det.features;
    return Format("FEAT %u %u %u %u", w[first], w[first + 1], w[first + 2], w[first + 3]).size();
}

std::size_t MaskReply(const sim::DetectorConfig& det) {
    return Format("CONF_MASK %u %u", det.dataMask, det.auxMask).size();
}

std::optional<std::size_t> AppDataReply(const sim::DetectorConfig& det, const std::string& name) {
    auto found = det.appData.find(name);
    if (found == det.appData.end()) return std::nullopt;  // refused: the record alone
    return 2 + found->second.size() + 2;                   // "$F", the value, CR LF
}

// "SET_DEVI %d" or "SET_SEGM %d": nine characters and the number.
Cost Select(int detector) {
    return Exchange(Format("SET_SEGM %u", static_cast<unsigned>(detector)).size(), 0, std::nullopt);
}

Cost Query(const char* command, int respSize, std::size_t reply) {
    return Exchange(std::char_traits<char>::length(command), respSize, reply);
}

// What a probe leaves behind that later steps depend on.
struct Probed {
    int detectors = 0;
    int selected = -1;                  // the input the unit has selected
    std::uint32_t word0[kMaxDetectors] = {};  // feature word 0 per input
};

Cost Probe(const sim::UnitConfig* unit, Probed* probed) {
    Cost cost = Detect(unit);
    if (!unit) return cost;
    cost += ZeroLength();
    cost += Query("SHOW_VERS", kVersionSize, 2 + 8);
    const bool fourDevice = FourDevice(*unit);
    int detectors = fourDevice ? 4 : 1;
    if (!fourDevice) {
        cost += Query("SHOW_CONF", kConfSize, 96);
        if (unit->detectors >= 1 && unit->detectors <= 32) detectors = std::min(unit->detectors, kMaxDetectors);
    }
    probed->detectors = detectors;
    const sim::DetectorConfig& first = unit->detector.at(0);
    for (int d = 1; d <= detectors; ++d) {
        if (d > 1 && !(first.features[1] & kDetsDiffer)) {
            probed->word0[d - 1] = first.features[0];  // a copy of input 1
            continue;
        }
        const sim::DetectorConfig& det = unit->detector.at(static_cast<std::size_t>(d - 1));
        cost += Select(d);
        probed->selected = d;
        const std::size_t features = FeatureReply(det, 0);
        cost += Query("SHOW_FEAT", kQuerySize, features);
        if (features <= 10) continue;  // not accepted: no further queries
        probed->word0[d - 1] = det.features[0];
        if (det.features[3] & kExtended) cost += Query("SHOW_FEAT_EXTE", kQuerySize, FeatureReply(det, 4));
        cost += Query("SHOW_CONF_MASK", kQuerySize, MaskReply(det));
    }
    return cost;
}

// "@LOCK" and "@START" of every input whose values live in the unit; the
// others come from the INI file and cost no request.
Cost LoadValues(const sim::UnitConfig& unit, Probed* probed) {
    Cost cost;
    for (int d = 1; d <= probed->detectors; ++d) {
        if (!(probed->word0[d - 1] & kAppDataInMcb)) continue;
        for (const char* name : {"@LOCK", "@START"}) {
            if (probed->selected != d) {
                cost += Select(d);
                probed->selected = d;
            }
            const std::string command = std::string("SHOW_DATA_APP \"") + name + "\"";
            cost += Exchange(command.size(), kAppDataSize,
                             AppDataReply(unit.detector.at(static_cast<std::size_t>(d - 1)), name));
        }
    }
    return cost;
}

const sim::UnitConfig* UnitAt(const ChainLayout& chain, int mcb) {
    auto found = chain.find(mcb);
    return found == chain.end() ? nullptr : &found->second;
}

Cost InitDetectors(const ChainLayout& chain) {
    Cost cost;
    Probed probed[kLastMcb - kFirstMcb + 1];
    int total = 0;
    for (int mcb = kFirstMcb; mcb <= kLastMcb; ++mcb) {
        cost += Probe(UnitAt(chain, mcb), &probed[mcb - kFirstMcb]);
        total += probed[mcb - kFirstMcb].detectors;
    }
    if (total <= 0) return cost;
    for (int mcb = kFirstMcb; mcb <= kLastMcb; ++mcb)
        if (const sim::UnitConfig* unit = UnitAt(chain, mcb)) cost += LoadValues(*unit, &probed[mcb - kFirstMcb]);
    return cost;
}

}  // namespace

void Cost::MailboxBytes(std::uint64_t count) {
    nt += 2 * count;  // set address, then the one-byte transfer
    win95 += count;
    // (no pauses: those belong to the waits)
}

void Cost::Read(std::uint32_t bytes) {
    if (bytes == 0) return;
    nt += 2;
    win95 += (bytes + kW95Chunk - 1) / kW95Chunk;
}

void Cost::Write(std::uint32_t bytes) {
    if (bytes == 0) return;
    nt += 2;
    win95 += 1;
}

void Cost::Requests(std::uint64_t count) {
    nt += count;
    win95 += count;
}

Cost& Cost::operator+=(const Cost& other) {
    nt += other.nt;
    win95 += other.win95;
    pauses += other.pauses;
    return *this;
}

Cost FlushIdle() {
    Cost cost;
    cost.MailboxBytes(3);  // empty MCB$INFLG, pause, read MCB$OUTFLG, empty MCB$INFLG
    cost.pauses = 1;
    return cost;
}

Cost Post(std::size_t commandLength) {
    Cost cost;
    cost.MailboxBytes(2 + commandLength + 1);
    return cost;
}

Cost Exchange(std::size_t commandLength, int respSize, std::optional<std::size_t> response) {
    Cost cost = FlushIdle();
    cost += Post(commandLength);
    // Every message: one pause and poll of MCB$INFLG, the length word, the
    // text read, MCB$INFLG emptied.
    if (respSize > 0) {
        cost.pauses += 1;
        if (!response) {
            // The record in place of the text: seen by its '%', read, done.
            cost.MailboxBytes(1 + 2 + 1 + kStatusLength + 1);
            return cost;
        }
        const std::size_t length = *response;
        const bool mayBeRecord = length >= 10 && length <= 12;  // first character checked
        cost.MailboxBytes(1 + 2 + (mayBeRecord ? 1 : 0) +
                          std::min(length, static_cast<std::size_t>(respSize - 1)) + 1);
    } else if (response) {
        // Text nobody asked for is one more message of the status phase.
        cost.pauses += 1;
        cost.MailboxBytes(1 + 2 + std::min(*response, kStatusBuffer) + 1);
    }
    cost.pauses += 1;
    cost.MailboxBytes(1 + 2 + kStatusLength + 1);
    return cost;
}

Cost ZeroLength() {
    Cost cost = FlushIdle();
    cost += Post(0);
    cost += FlushIdle();
    return cost;
}

Cost Operation(Op op, const ChainLayout& chain) {
    Cost cost;
    const sim::UnitConfig* unit = UnitAt(chain, kUnitMcb);
    switch (op) {
        case Op::ShowVers: return Query("SHOW_VERS", kVersionSize, 2 + 8);
        case Op::ProbePresent: {
            Probed probed;
            return Probe(unit, &probed);
        }
        case Op::ProbeAbsent: return Detect(nullptr);
        case Op::InitEmpty:
        case Op::InitFull: return InitDetectors(chain);
        case Op::SetRoiReselect: cost += Select(1); [[fallthrough]];
        case Op::SetRoi:
            cost += Exchange(Format("SET_ROI %u, %u", kRoiStart, kRoiLength).size(), 0, std::nullopt);
            return cost;
        case Op::GetData: cost.Read(4 * kGetChannels); return cost;
        case Op::SetData:
            for (int i = 0; i < kSetChannels; ++i) {
                cost.Read(4);  // the word as it is, to keep the bits outside the mask
                cost.Write(4);
            }
            return cost;
        case Op::StartupNoDriver: return cost;
        case Op::StartupEmpty:
        case Op::StartupFull:
            cost.Requests(1);  // the port request of the driver open
            cost += InitDetectors(chain);
            return cost;
    }
    return cost;
}

}  // namespace model
}  // namespace bench

// What a simulated MCB is: its mailbox type, version text, inputs and
// their memory, feature words, masks, views and stored values.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

constexpr int kFeatureWords = 16;
constexpr int kMaxDetectors = 16;
constexpr int kDevicesPerUnit = 4;  // inputs of a four-device unit
constexpr std::uint32_t kMaxChannels = 65536;

struct DetectorConfig {
    // Words 4 to 7 are the extended words that "SHOW_FEAT_EXTE" reports.
    std::array<std::uint32_t, kFeatureWords> features{};
    std::uint32_t dataMask = 0x7FFFFFFF;  // count bits of a channel word
    std::uint32_t auxMask = 0x80000000;   // its top bit marks ROI channels
    int views = 1;                        // views 0 .. views-1
    std::map<std::string, std::string> appData;
    std::optional<std::int64_t> startStamp;  // unit clock, seconds since 1970
    bool acquiring = false;
    std::uint64_t liveMs = 0;  // counting time already in the spectrum
};

struct UnitConfig {
    int mailboxType = 5;  // 5: offset k at byte 2k; 4: at byte 4k+3
    // Eight characters; "474" in characters 2 to 4 (from 1) makes a
    // four-device unit, whose inputs each have their own data memory.
    std::string version = "0000-000";
    int detectors = 1;               // inputs of a segment unit
    std::uint32_t channels = 4096;   // per input (segment or device)
    // What "SHOW_CONF" announces, when it should differ from the truth.
    std::optional<std::uint32_t> reportTotal;
    std::optional<std::uint32_t> reportDetectors;
    std::int64_t clockOffset = 0;    // seconds added to the unit's clock
    // Per input, 1-based input d at index d-1; missing entries are defaults.
    std::vector<DetectorConfig> detector;

    bool fourDevice() const { return version.size() >= 5 && version.compare(1, 3, "474") == 0; }
    int detectorCount() const { return fourDevice() ? kDevicesPerUnit : detectors; }
};

// How a number without a unit behaves on the port.
enum class AbsentBehaviour {
    FloatingBus,   // reads give 0xFF
    EchoPort,      // reads give the last byte written on the port
    SharedMemory,  // every absent number shows one and the same memory
};

struct ChainConfig {
    AbsentBehaviour absent = AbsentBehaviour::FloatingBus;
    // Unit clocks at start, seconds since 1970; none: the PC's time.
    std::optional<std::int64_t> epoch;
    std::map<int, UnitConfig> units;  // by MCB number, 9 to 16
};

}  // namespace sim

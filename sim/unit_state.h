// What a simulated MCB holds besides its mailbox: the spectrum memory of
// its inputs, per-input settings and acquisition, and the input and view
// that commands last selected.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "sim/clock.h"
#include "sim/spectrum_model.h"
#include "sim/unit_config.h"

namespace sim {

struct DetectorState {
    DetectorState(const DetectorConfig& c, SpectrumModel m) : config(c), model(std::move(m)) {}

    DetectorConfig config;  // features, masks, views, app data
    SpectrumModel model;
    bool acquiring = false;
    std::uint64_t liveMs = 0;     // counting time so far
    std::uint64_t appliedMs = 0;  // counting time whose counts are in memory
    std::uint32_t lastMs = 0;     // tick of the last update of liveMs
    std::optional<std::int64_t> startStamp;
    std::vector<bool> roi;
    std::uint32_t windowStart = 0;
    std::uint32_t windowLength = 0;
    bool haveWindow = false;
};

class UnitState {
public:
    UnitState(const UnitConfig& config, Instant now);

    const UnitConfig& config() const { return config_; }
    bool fourDevice() const { return fourDevice_; }
    int detectorCount() const { return static_cast<int>(detectors_.size()); }
    std::uint32_t channels() const { return config_.channels; }

    // Input d, 1-based; callers keep d within 1..detectorCount().
    DetectorState& detector(int d) { return detectors_[d - 1]; }
    const DetectorState& detector(int d) const { return detectors_[d - 1]; }

    // Channel word of input d; channels beyond the input read as null.
    std::uint32_t* word(int d, std::uint32_t channel);
    const std::uint32_t* word(int d, std::uint32_t channel) const;

    // The words the data space shows now: the whole memory of a segment
    // unit, the selected device's memory of a four-device unit.
    std::vector<std::uint32_t>& dataSpace();

    // Selection made by "SET_SEGM"/"SET_DEVI" and "SET_VIEW".
    int selected = 1;
    int view = 0;

    // Brings counting times and the calendar clock up to `now`. Counts
    // reach memory only at settle(): the mailbox is polled far more often
    // than spectra are read, and counts depend on counting time alone.
    void advance(Instant now);
    void settle();
    std::int64_t unitSeconds() const { return seconds_ + config_.clockOffset; }

    void start(int d, Instant now);
    void stop(int d, Instant now);
    void clear(int d);
    // Marks or unmarks channels [first, first+count) of input d, clipped to
    // the input; an ROI channel also carries the top bit of the aux mask.
    void markRoi(int d, std::uint32_t first, std::uint64_t count, bool on);

private:
    void addCounts(int d, std::uint64_t fromMs, std::uint64_t toMs);

    UnitConfig config_;
    bool fourDevice_;  // asked on every data byte: worked out once
    std::vector<DetectorState> detectors_;
    std::vector<std::vector<std::uint32_t>> memories_;  // one, or one per device
    std::int64_t seconds_ = 0;
};

}  // namespace sim

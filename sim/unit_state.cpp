#include "sim/unit_state.h"

#include <algorithm>

namespace sim {

namespace {

std::uint32_t TopBit(std::uint32_t mask) {
    std::uint32_t bit = 0x80000000u;
    while (bit && !(mask & bit)) bit >>= 1;
    return bit;
}

}  // namespace

UnitState::UnitState(const UnitConfig& config, Instant now)
    : config_(config), fourDevice_(config.fourDevice()), seconds_(now.seconds) {
    const int count = config_.detectorCount();
    for (int d = 0; d < count; ++d) {
        DetectorConfig dc = d < static_cast<int>(config_.detector.size()) ? config_.detector[d] : DetectorConfig{};
        DetectorState state(dc, SpectrumModel(config_.channels, d));
        state.acquiring = dc.acquiring;
        // A configured start is a true time, like the epoch: the unit shows it
        // on its own clock, offset as everything else it tells.
        if (dc.startStamp) state.startStamp = *dc.startStamp + config_.clockOffset;
        if (state.acquiring && !state.startStamp) state.startStamp = now.seconds + config_.clockOffset;
        state.lastMs = now.ms;
        state.roi.assign(config_.channels, false);
        detectors_.push_back(std::move(state));
    }
    if (config_.fourDevice())
        memories_.assign(kDevicesPerUnit, std::vector<std::uint32_t>(config_.channels, 0));
    else
        memories_.assign(1, std::vector<std::uint32_t>(static_cast<std::size_t>(config_.channels) * count, 0));
    for (DetectorState& det : detectors_) det.liveMs = det.config.liveMs;
    settle();
}

std::uint32_t* UnitState::word(int d, std::uint32_t channel) {
    if (d < 1 || d > detectorCount() || channel >= config_.channels) return nullptr;
    if (fourDevice()) return &memories_[d - 1][channel];
    return &memories_[0][static_cast<std::size_t>(d - 1) * config_.channels + channel];
}

const std::uint32_t* UnitState::word(int d, std::uint32_t channel) const {
    return const_cast<UnitState*>(this)->word(d, channel);
}

std::vector<std::uint32_t>& UnitState::dataSpace() {
    if (!fourDevice()) return memories_[0];
    return memories_[std::clamp(selected, 1, kDevicesPerUnit) - 1];
}

void UnitState::advance(Instant now) {
    seconds_ = now.seconds;
    for (int d = 1; d <= detectorCount(); ++d) {
        DetectorState& det = detector(d);
        if (!det.acquiring) continue;
        // Signed: a command taken late carries the earlier tick at which the
        // unit took it, and time must not run backwards into a huge count.
        std::int32_t elapsed = static_cast<std::int32_t>(now.ms - det.lastMs);
        if (elapsed <= 0) continue;
        det.liveMs += static_cast<std::uint32_t>(elapsed);
        det.lastMs = now.ms;
    }
}

void UnitState::settle() {
    for (int d = 1; d <= detectorCount(); ++d) {
        DetectorState& det = detector(d);
        if (det.appliedMs == det.liveMs) continue;
        addCounts(d, det.appliedMs, det.liveMs);
        det.appliedMs = det.liveMs;
    }
}

void UnitState::start(int d, Instant now) {
    DetectorState& det = detector(d);
    if (det.acquiring) return;
    det.acquiring = true;
    det.lastMs = now.ms;
    det.startStamp = unitSeconds();
}

void UnitState::stop(int d, Instant now) {
    advance(now);
    detector(d).acquiring = false;
}

void UnitState::clear(int d) {
    DetectorState& det = detector(d);
    for (std::uint32_t c = 0; c < config_.channels; ++c) *word(d, c) &= ~det.config.dataMask;
    det.liveMs = det.appliedMs = 0;
}

void UnitState::markRoi(int d, std::uint32_t first, std::uint64_t count, bool on) {
    DetectorState& det = detector(d);
    const std::uint32_t flag = TopBit(det.config.auxMask);
    const std::uint64_t end = std::min<std::uint64_t>(config_.channels, first + count);
    for (std::uint64_t c = first; c < end; ++c) {
        det.roi[c] = on;
        std::uint32_t* w = word(d, static_cast<std::uint32_t>(c));
        *w = on ? (*w | flag) : (*w & ~flag);
    }
}

// Counts saturate at the data mask; bits outside it are left alone.
void UnitState::addCounts(int d, std::uint64_t fromMs, std::uint64_t toMs) {
    DetectorState& det = detector(d);
    const std::uint32_t mask = det.config.dataMask;
    for (std::uint32_t c = 0; c < config_.channels; ++c) {
        std::uint64_t delta = det.model.counts(c, toMs) - det.model.counts(c, fromMs);
        if (delta == 0) continue;
        std::uint32_t* w = word(d, c);
        std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(*w & mask) + delta, mask);
        *w = (*w & ~mask) | (static_cast<std::uint32_t>(count) & mask);
    }
}

}  // namespace sim

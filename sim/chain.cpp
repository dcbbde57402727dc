#include "sim/chain.h"

#include <ctime>

namespace sim {

namespace {

constexpr std::size_t kSharedMemorySize = 65536;

}  // namespace

Chain::Chain(Clock clock, std::optional<std::int64_t> epoch)
    : clock_(clock ? std::move(clock) : SteadyClock()),
      epoch_(epoch.value_or(static_cast<std::int64_t>(std::time(nullptr)))),
      lastMs_(clock_()),
      sharedMemory_(kSharedMemorySize, 0) {}

std::unique_ptr<Chain> Chain::fromConfig(const ChainConfig& config, Clock clock) {
    auto chain = std::make_unique<Chain>(std::move(clock), config.epoch);
    chain->absentBehaviour = config.absent;
    for (const auto& [mcb, unit] : config.units) chain->addUnit(mcb, unit);
    return chain;
}

Unit* Chain::addUnit(int mcb, const UnitConfig& config) {
    if (mcb < kFirstMcb || mcb > kLastMcb) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = units_[mcb - kFirstMcb];
    slot = std::make_unique<Unit>(config, nowLocked());
    return slot.get();
}

void Chain::removeUnit(int mcb) {
    if (mcb < kFirstMcb || mcb > kLastMcb) return;
    std::lock_guard<std::mutex> lock(mutex_);
    units_[mcb - kFirstMcb].reset();
}

Unit* Chain::unit(int mcb) {
    if (mcb < kFirstMcb || mcb > kLastMcb) return nullptr;
    return units_[mcb - kFirstMcb].get();
}

const Unit* Chain::unit(int mcb) const {
    if (mcb < kFirstMcb || mcb > kLastMcb) return nullptr;
    return units_[mcb - kFirstMcb].get();
}

Instant Chain::nowLocked() {
    std::uint32_t ms = clock_();
    elapsedMs_ += static_cast<std::uint32_t>(ms - lastMs_);
    lastMs_ = ms;
    return {ms, epoch_ + static_cast<std::int64_t>(elapsedMs_ / 1000)};
}

Instant Chain::now() {
    std::lock_guard<std::mutex> lock(mutex_);
    return nowLocked();
}

void Chain::read(std::uint32_t unitByte, std::uint32_t address, std::uint8_t* out, std::uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    Instant now = nowLocked();
    Unit* target = unitByte <= 15 ? units_[unitByte & 7].get() : nullptr;
    if (target) {
        target->read((unitByte & 8) != 0, address, out, length, now);
        return;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        std::uint64_t at = static_cast<std::uint64_t>(address) + i;
        switch (absentBehaviour) {
            case AbsentBehaviour::FloatingBus: out[i] = 0xFF; break;
            case AbsentBehaviour::EchoPort: out[i] = lastPortByte_; break;
            case AbsentBehaviour::SharedMemory: out[i] = at < sharedMemory_.size() ? sharedMemory_[at] : 0xFF; break;
        }
    }
}

void Chain::write(std::uint32_t unitByte, std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    Instant now = nowLocked();
    if (length > 0) lastPortByte_ = data[length - 1];
    Unit* target = unitByte <= 15 ? units_[unitByte & 7].get() : nullptr;
    if (target) {
        target->write((unitByte & 8) != 0, address, data, length, now);
        return;
    }
    if (absentBehaviour != AbsentBehaviour::SharedMemory) return;
    for (std::uint32_t i = 0; i < length; ++i) {
        std::uint64_t at = static_cast<std::uint64_t>(address) + i;
        if (at < sharedMemory_.size()) sharedMemory_[at] = data[i];
    }
}

void Chain::sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    Instant now = nowLocked();
    for (auto& unit : units_)
        if (unit) {
            unit->advance(now);
            unit->state().settle();
        }
}

}  // namespace sim

// One simulated unit behind the add-in, probed as start-up would, whose
// replies the harnesses then replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/rig.h"

namespace fuzz {

constexpr int kMcb = 9;
// Longer replies say nothing new to parsers with buffers of at most 131
// bytes, and keep each run short.
constexpr std::size_t kMaxReply = 600;

inline std::string Text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size < kMaxReply ? size : kMaxReply);
}

// The input split at 0x00 bytes into at most `count` texts; missing ones
// are empty, the last one takes the rest.
inline std::vector<std::string> Texts(const std::uint8_t* data, std::size_t size, std::size_t count) {
    std::vector<std::string> texts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0x00 && texts.size() < count) {
            texts.emplace_back();
        } else if (texts.back().size() < kMaxReply) {
            texts.back() += static_cast<char>(data[i]);
        }
    }
    texts.resize(count);
    return texts;
}

// The rig's clock advances this much per port request, so that a reply
// leading to a time-out costs few polls.
constexpr std::uint32_t kRequestCostMicros = 1000;

inline sim::Unit* AddUnit(fake::Rig& rig, const sim::UnitConfig& config) {
    sim::Unit* unit = rig.chain->addUnit(kMcb, config);
    rig.ConnectNt();
    rig.OpenDriverOnly();
    rig.os.requestCostMicros = kRequestCostMicros;
    return unit;
}

}  // namespace fuzz

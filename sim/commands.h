// The command language of a simulated MCB: what each command does to the
// unit and which response texts and status fields it answers with.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/clock.h"
#include "sim/unit_state.h"

namespace sim {

// First status field of a refusal.
constexpr int kStatusOk = 0;
constexpr int kStatusUnknownCommand = 1;  // keyword not known to this unit
constexpr int kStatusBadArgument = 2;     // malformed or out-of-range argument
constexpr int kStatusNoValue = 3;         // "SHOW_DATA_APP" of a name never stored
// Values a detector keeps at most ("SET_DATA_APP" of one more is refused).
constexpr std::size_t kMaxAppValues = 64;

struct Reply {
    std::vector<std::string> texts;  // response texts, posted before the record
    int first = kStatusOk;
    int second = 0;
};

// Carries out one command on the unit at `now` (the unit is up to date).
Reply Execute(UnitState& unit, std::string_view command, Instant now);

}  // namespace sim

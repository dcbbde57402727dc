// The chain of the demo and of most tests.
//
// MCB 9: mailbox type 5, version "0919-005", a segment unit with two inputs
//   of 4096 channels. Both inputs: start stamps and stored values kept in
//   the unit (feature word 0 = 0x00110000), inputs queried one by one
//   (word 1 = 0x2000), two views (word 2 = 0x20000000), extended words
//   (word 3 = 0x80000000). Input 1: data mask 0x7FFFFFFF, aux 0x80000000,
//   acquiring, with a minute of counts. Input 2: data mask 0x00FFFFFF, aux
//   0xFF000000, stopped after 30 s of counting, which its stored
//   "KESTREL_RUN" records as `kestrel stop` would.
// MCB 12: mailbox type 4, version "8474-001", a four-device unit of 16384
//   channels per device; start stamps in the unit (word 0 = 0x00010000),
//   stored values in the INI file, devices alike (word 1 = 0). Data mask
//   0x00FFFFFF, aux 0 (the top byte of a channel word is the mailbox's, so
//   ROI marks do not show in it). Device 1 stopped after two minutes of
//   counting, at a time nobody recorded (its values live in the PC's INI
//   file); device 2 acquiring from the start; 3 and 4 never started.
// Every other number is absent (floating bus).
#pragma once

#include <cstdint>
#include <optional>

#include "sim/unit_config.h"

namespace sim {

UnitConfig DemoSegmentUnit(std::int64_t epoch);
UnitConfig DemoDeviceUnit(std::int64_t epoch);
// `epoch` defaults to the PC's time; the result always carries one.
ChainConfig DemoChainConfig(std::optional<std::int64_t> epoch = {});

}  // namespace sim

// Probing one MCB number for presence, version, configuration and features.
#pragma once

#include <cstdint>

// Fills the MCB's shared record. The caller holds the mutex.
void ProbeMcb(std::int32_t nMcb);

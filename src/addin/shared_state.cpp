#include "addin/shared_state.h"

McbRecord* RecordOf(SharedState& state, int nMcb) {
    if (nMcb < MCB_FIRST || nMcb > MCB_LAST) return nullptr;
    return &state.records[nMcb - MCB_FIRST];
}

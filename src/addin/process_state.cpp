#include "addin/process_state.h"

ProcessState& Process() {
    static ProcessState state;
    return state;
}

#include "addin/process_state.h"

namespace {
// Constant-initialised at load, so reaching it costs no guard check on the
// per-request paths.
ProcessState g_process;
}  // namespace

ProcessState& Process() { return g_process; }

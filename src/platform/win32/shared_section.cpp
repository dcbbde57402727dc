// The block every process shares: a data section of this image marked
// shared, so Windows maps one copy into every process that loads it and
// fills it with zeros when the first one does. GCC needs the object fully
// initialised for the section to hold it as data.
#include "addin/shared_state.h"
#include "platform/win32/win32_os.h"

namespace platform {
namespace {

__attribute__((section(".kshared"), shared)) SharedState g_sharedState = {};

}  // namespace

SharedState* Win32Os::Shared() { return &g_sharedState; }

}  // namespace platform

// The Windows implementation of the platform seam: each operation is the
// Win32 call it is named after, with the arguments the add-in needs. Only
// the files of this folder include <windows.h>.
#pragma once

#include "platform/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace platform {

class Win32Os final : public Os {
public:
    PLATFORM_OS_OVERRIDES
};

}  // namespace platform

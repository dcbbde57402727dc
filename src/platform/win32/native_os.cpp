#include "platform/win32/win32_os.h"

namespace platform {

Os& NativeOs() {
    // Built on first use, which may be during the add-in's static
    // construction; it then outlives the add-in object.
    static Win32Os instance;
    return instance;
}

}  // namespace platform

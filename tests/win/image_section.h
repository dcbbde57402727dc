// The section of a loaded image (program or DLL) that holds an address.
#pragma once

#include <string>

#include "platform/win32/win32_os.h"

namespace wintest {

struct ImageSection {
    bool found = false;
    HMODULE module = nullptr;
    std::string name;
    DWORD characteristics = 0;
};

ImageSection SectionOf(const void* address);

}  // namespace wintest

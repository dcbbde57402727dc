#include "win/image_section.h"

#include <algorithm>

namespace wintest {

ImageSection SectionOf(const void* address) {
    ImageSection result;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &result.module))
        return result;
    const BYTE* base = reinterpret_cast<const BYTE*>(result.module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    const std::uintptr_t rva = static_cast<const BYTE*>(address) - base;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        DWORD size = std::max<DWORD>(section->Misc.VirtualSize, section->SizeOfRawData);
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
            result.found = true;
            const char* name = reinterpret_cast<const char*>(section->Name);
            result.name.assign(name, strnlen(name, IMAGE_SIZEOF_SHORT_NAME));
            result.characteristics = section->Characteristics;
            break;
        }
    }
    return result;
}

}  // namespace wintest

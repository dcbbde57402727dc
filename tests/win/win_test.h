// kestrel.dll loaded as the host loads it, from beside this program where
// the build copies the product, its slots called by number.
#pragma once

#include <string>

#include "addin/local_addin.h"
#include "platform/win32/win32_os.h"

#if defined(__i386__)
#define KESTREL_THISCALL __attribute__((thiscall))
#else
#define KESTREL_THISCALL
#endif

namespace wintest {

class AddinDll {
public:
    AddinDll() {
        char szPath[MAX_PATH];
        std::string path(szPath, ::GetModuleFileNameA(nullptr, szPath, sizeof szPath));
        module_ = ::LoadLibraryA((path.substr(0, path.find_last_of("\\/") + 1) + "kestrel.dll").c_str());
        if (module_) addin_ = reinterpret_cast<LocalAddin*>(::GetProcAddress(module_, "AAPI_Addin"));
    }
    ~AddinDll() { if (module_) ::FreeLibrary(module_); }
    bool Loaded() const { return addin_ != nullptr; }
    HMODULE Module() const { return module_; }
    LocalAddin* operator->() const { return addin_; }  // the fields after the table pointer
    McbRecord& Record(int nMcb) const { return addin_->pMcbTable[nMcb - MCB_FIRST]; }
    template <typename R, typename... A>
    R Call(int slot, A... args) const {
        using Fn = R(KESTREL_THISCALL*)(void*, A...);
        return reinterpret_cast<Fn>((*reinterpret_cast<void***>(addin_))[slot])(addin_, args...);
    }

private:
    HMODULE module_ = nullptr;
    LocalAddin* addin_ = nullptr;
};

}  // namespace wintest

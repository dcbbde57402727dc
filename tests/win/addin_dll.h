// The add-in DLL loaded as the host loads it: LoadLibrary, then the object
// exported as AAPI_Addin, driven through its interface table.
#pragma once

#include <string>

#include "addin/local_addin.h"
#include "win/child.h"

namespace wintest {

// The name of the add-in's system-wide mutex.
constexpr char kAddinMutexName[] = "UADDVELDAMUTEXKS";

class AddinDll {
public:
    AddinDll();
    AddinDll(const AddinDll&) = delete;
    AddinDll& operator=(const AddinDll&) = delete;
    ~AddinDll();

    bool Loaded() const { return addin_ != nullptr; }
    LocalAddin* operator->() const { return addin_; }
    // The shared block as this process maps it.
    McbRecord& Record(int nMcb) const { return addin_->pMcbTable[nMcb - MCB_FIRST]; }
    std::int32_t SystemOpenCount() const { return *addin_->pnSystemOpenCount; }
    // Unloads the library now (the destructor does nothing more).
    void Unload();

private:
    HMODULE module_ = nullptr;
    LocalAddin* addin_ = nullptr;
};

}  // namespace wintest

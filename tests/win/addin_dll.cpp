#include "win/addin_dll.h"

namespace wintest {

AddinDll::AddinDll() : module_(::LoadLibraryA(AddinDllPath().c_str())) {
    if (module_ == nullptr) return;
    FARPROC symbol = ::GetProcAddress(module_, "AAPI_Addin");
    addin_ = reinterpret_cast<LocalAddin*>(symbol);
}

AddinDll::~AddinDll() { Unload(); }

void AddinDll::Unload() {
    if (module_ != nullptr) ::FreeLibrary(module_);
    module_ = nullptr;
    addin_ = nullptr;
}

}  // namespace wintest

#include "comfw/typeLib.h"

#include <mutex>

#include "comfw/module.h"

namespace comfw {

HRESULT ModuleTypeLib(ITypeLib** lib) noexcept {
    if (!lib) return E_POINTER;
    // Deliberately never released: objects may outlive the last static
    // destructor, and OLE Automation may already be gone at process exit.
    static ITypeLib* cached = nullptr;
    static HRESULT status = E_FAIL;
    static std::once_flag once;
    std::call_once(once, [] {
        std::wstring path;
        status = Module::FileName(Module::Handle(), path);
        if (SUCCEEDED(status)) status = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &cached);
    });
    *lib = cached;
    return status;
}

HRESULT ModuleTypeInfo(REFGUID guid, ITypeInfo** info) noexcept {
    if (!info) return E_POINTER;
    *info = nullptr;
    ITypeLib* lib = nullptr;
    const HRESULT hr = ModuleTypeLib(&lib);
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(guid, info);
}

}  // namespace comfw

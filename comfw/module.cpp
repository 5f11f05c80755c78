#include "comfw/module.h"

#include "comfw/hresult.h"

namespace comfw {
namespace {
LONG g_lockCount = 0;
}

HMODULE Module::Handle() noexcept {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&Module::Handle), &module);
    return module;
}

HRESULT Module::FileName(HMODULE module, std::wstring& path) noexcept {
    path.clear();
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(module, buffer, MAX_PATH);
    if (n >= MAX_PATH) ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (n == 0 || n >= MAX_PATH) return LastErrorHresult();
    try {
        path.assign(buffer, n);
        return S_OK;
    } catch (...) {
        ::SetLastError(ERROR_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
}

void Module::Lock() noexcept { ::InterlockedIncrement(&g_lockCount); }
void Module::Unlock() noexcept { ::InterlockedDecrement(&g_lockCount); }
LONG Module::LockCount() noexcept { return g_lockCount; }

}  // namespace comfw

#include "comfw/module.h"

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

void Module::Lock() noexcept { ::InterlockedIncrement(&g_lockCount); }
void Module::Unlock() noexcept { ::InterlockedDecrement(&g_lockCount); }
LONG Module::LockCount() noexcept { return g_lockCount; }

}  // namespace comfw

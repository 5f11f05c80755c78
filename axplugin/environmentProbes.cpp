#include "axplugin/environmentProbes.h"

#include <psapi.h>
#include <cwchar>

#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/uniqueAny.h"
#include "pluginlog/pluginLog.h"

namespace zova {
namespace {

HRESULT g_lastStatus = E_NOTIMPL;
bool g_cached = false;
BOOL g_cachedAnswer = FALSE;

using ProtectedModeQuery = HRESULT(WINAPI*)(BOOL*);

}  // namespace

HRESULT QueryProtectedMode(BOOL* answer) noexcept {
    if (g_cached) {
        if (answer) *answer = g_cachedAnswer;
        return g_lastStatus;
    }
    if (const comfw::unique_hmodule frame(::LoadLibraryW(L"ieframe.dll")); frame) {
        auto query =
            reinterpret_cast<ProtectedModeQuery>(::GetProcAddress(frame.get(), "IEIsProtectedModeProcess"));
        if (query) g_lastStatus = query(answer);
    }
    if (g_lastStatus != S_OK && g_lastStatus != E_NOTIMPL) return g_lastStatus;
    g_cachedAnswer = answer ? *answer : FALSE;
    g_cached = true;
    return g_lastStatus;
}

bool IsIExploreProcess() noexcept {
    wchar_t name[MAX_PATH] = {};
    if (::GetProcessImageFileNameW(::GetCurrentProcess(), name, MAX_PATH) == 0) {
        ZOVA_REPORT("Failed to get process image file: %d", static_cast<int>(::GetLastError()));
        return true;
    }
    _wcslwr(name);
    return std::wcsstr(name, L"iexplore.exe") != nullptr;
}

STDMETHODIMP ZOVAEmbeddedCtl::isInProtectedMode(VARIANT_BOOL* retVal) noexcept {
    return ScriptCall(L"isInProtectedMode", [&]() noexcept -> HRESULT {
        if (!retVal) return E_POINTER;
        *retVal = VARIANT_FALSE;
        BOOL answer = FALSE;
        const HRESULT hr = QueryProtectedMode(&answer);
        if (hr == S_OK) {
            *retVal = answer > 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        if (hr == E_NOTIMPL) return S_FALSE;
        ZOVA_REPORT("IEIsProtectedModeProcess failed: %d", static_cast<int>(hr));
        return hr;
    });
}

}  // namespace zova

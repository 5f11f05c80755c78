#include "axplugin/scriptErrors.h"

#include <oleauto.h>
#include <cstdio>

#include "axplugin/velmoraRemoteConsole.h"
#include "comfw/comPtr.h"

namespace zova {
namespace {

// What a status means to a page author, for a failure no step explained.
std::wstring FromStatus(HRESULT hr) {
    switch (hr) {
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED:
        return L"the console process has ended; call shutdown, then startup again";
    case E_ACCESSDENIED:
        return L"this site may not use the devices of this computer (the user denied it, or the page's origin "
               L"is unknown)";
    case E_POINTER:
        return L"no place was given for the result";
    case E_OUTOFMEMORY:
        return L"out of memory";
    case E_INVALIDARG:
        return L"the console refused an argument";
    case DISP_E_TYPEMISMATCH:
        return L"the console answered with a value of an unexpected type";
    case E_ABORT:
        return L"cancelled: shutdown was called, or the control's window ended, while the console was starting";
    default: {
        wchar_t text[96];
        std::swprintf(text, 96, L"failed with error 0x%08lX; the diagnostic log has the details",
                      static_cast<unsigned long>(hr));
        return text;
    }
    }
}

}  // namespace

std::wstring DescribeFailure(const wchar_t* method, HRESULT hr, const std::wstring& why) {
    return std::wstring(method) + L": " + (why.empty() ? FromStatus(hr) : why);
}

HRESULT AnswerScript(const wchar_t* method, HRESULT hr, const std::wstring& why) noexcept {
    if (SUCCEEDED(hr)) {
        ::SetErrorInfo(0, nullptr);  // nothing stale is left for the caller
        return hr;
    }
    try {
        const std::wstring description = DescribeFailure(method, hr, why);
        comfw::ComPtr<ICreateErrorInfo> create;
        comfw::ComPtr<IErrorInfo> info;
        if (SUCCEEDED(::CreateErrorInfo(create.put())) &&
            SUCCEEDED(create->SetGUID(IID_IVelmoraEmbeddedRemoteConsole)) &&
            SUCCEEDED(create->SetSource(const_cast<LPOLESTR>(L"Velmora.RemoteConsole"))) &&
            SUCCEEDED(create->SetDescription(const_cast<LPOLESTR>(description.c_str()))) &&
            SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) {
            ::SetErrorInfo(0, info.get());
            return hr;
        }
    } catch (...) {
    }
    // No description could be made: at least nothing stale is left.
    ::SetErrorInfo(0, nullptr);
    return hr;
}

}  // namespace zova

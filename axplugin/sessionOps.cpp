// Session, screen and input operations: each forwards to one operation of the
// console's VM control and returns its status unchanged.
#include "axplugin/browserProxy.h"
#include "axplugin/consoleArgs.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/variant.h"
#include "plugin-common/utils.h"
#include "pluginlog/logResult.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"

namespace zova {

using comfw::Variant;

STDMETHODIMP ZOVAEmbeddedCtl::connect(BSTR hostname, BSTR sslThumbprint, VARIANT_BOOL allowSSLErrors,
                                      BSTR cloneSessionTicket, BSTR username, BSTR password, BSTR moid,
                                      BSTR datacenter, BSTR vmDataStorePath) noexcept {
    return ScriptCall(L"connect", [&]() noexcept -> HRESULT {
        if (!HasVMControl()) return E_FAIL;

        Variant flags;
        ZOVA_RETURN_IF_FAILED_REPORT(CallConsoleFor(consoleProcess_.get(), ZOVA_DISPID_GET_FEATURE_FLAGS, VT_UI4, flags),
                                     "Failed to get feature flags: %d");

        Variant proxy = Variant::OwnBstr(nullptr);
        if (flags.get().ulVal & kFeatureUseBrowserProxy) {
            ZOVA_LOG("Browser proxy feature is enabled");
            try {
                const std::wstring resolved = ResolveBrowserProxy(comfw::TextOf(hostname));
                comfw::Bstr text;
                COMFW_RETURN_IF_FAILED(comfw::Bstr::FromString(resolved, text));
                proxy = Variant::OwnBstr(text.detach());
            }
            COMFW_CATCH_RETURN()
        }

        HRESULT hr;
        Variant host, thumbprint, ticket, user, pass, vmId, dc, storePath;
        const Variant allow = BoolArg(allowSSLErrors);
        if (FAILED(hr = StringArg(hostname, host)) || FAILED(hr = StringArg(sslThumbprint, thumbprint)) ||
            FAILED(hr = StringArg(cloneSessionTicket, ticket)) || FAILED(hr = StringArg(username, user)) ||
            FAILED(hr = StringArg(password, pass)) || FAILED(hr = StringArg(moid, vmId)) ||
            FAILED(hr = StringArg(datacenter, dc)) || FAILED(hr = StringArg(vmDataStorePath, storePath)))
            return hr;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_CONNECT, host, thumbprint, allow, ticket, user, pass, vmId, dc,
                           storePath, proxy);
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::disconnect() noexcept {
    return ScriptCall(L"disconnect", [&]() noexcept -> HRESULT {
        if (!HasVMControl()) return E_FAIL;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_DISCONNECT);
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::setInputRelease(VARIANT_BOOL release) noexcept {
    return ScriptCall(L"setInputRelease", [&]() noexcept -> HRESULT {
        if (!HasVMControl()) return E_FAIL;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_SET_INPUT_RELEASE, BoolArg(release));
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::setScreenSize(INT width, INT height) noexcept {
    return ScriptCall(L"setScreenSize", [&]() noexcept -> HRESULT {
        if (!HasVMControl()) return E_FAIL;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_SET_SCREEN_SIZE, Variant::I4(width), Variant::I4(height));
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::screenWidth(INT* retVal) noexcept {
    return ScriptCall(L"screenWidth", [&]() noexcept -> HRESULT {
        if (!retVal) return E_POINTER;
        *retVal = 0;
        if (!HasVMControl()) return E_FAIL;
        Variant width;
        const HRESULT hr = CallConsoleFor(vmControl_.get(), ZOVA_DISPID_GET_SCREEN_WIDTH, VT_I4, width);
        if (SUCCEEDED(hr)) *retVal = width.get().lVal;
        return hr;
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::screenHeight(INT* retVal) noexcept {
    return ScriptCall(L"screenHeight", [&]() noexcept -> HRESULT {
        if (!retVal) return E_POINTER;
        *retVal = 0;
        if (!HasVMControl()) return E_FAIL;
        Variant height;
        const HRESULT hr = CallConsoleFor(vmControl_.get(), ZOVA_DISPID_GET_SCREEN_HEIGHT, VT_I4, height);
        if (SUCCEEDED(hr)) *retVal = height.get().lVal;
        return hr;
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::sendCAD() noexcept {
    return ScriptCall(L"sendCAD", [&]() noexcept -> HRESULT {
        if (!HasVMControl()) return E_FAIL;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_SEND_CAD);
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::setFullscreen(VARIANT_BOOL fullscreen) noexcept {
    return ScriptCall(L"setFullscreen", [&]() noexcept -> HRESULT {
        if (!HasVMControl()) return E_FAIL;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_SET_FULLSCREEN, BoolArg(fullscreen));
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::getFullscreen(VARIANT_BOOL* retVal) noexcept {
    return ScriptCall(L"getFullscreen", [&]() noexcept -> HRESULT {
        if (!retVal) return E_POINTER;
        if (!HasVMControl()) return E_FAIL;
        Variant state;
        const HRESULT hr = CallConsoleFor(vmControl_.get(), ZOVA_DISPID_GET_FULLSCREEN, VT_BOOL, state);
        // Written whatever the outcome: only a successful true reads as true.
        *retVal = (SUCCEEDED(hr) && state.get().boolVal != VARIANT_FALSE) ? VARIANT_TRUE : VARIANT_FALSE;
        return hr;
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::getGrabState(ZOVA_GrabState* state) noexcept {
    return ScriptCall(L"getGrabState", [&]() noexcept -> HRESULT {
        if (!state) return E_POINTER;
        if (!HasVMControl()) return E_FAIL;
        Variant result;
        const HRESULT hr = CallConsoleFor(vmControl_.get(), ZOVA_DISPID_GET_GRAB_STATE, VT_UI4, result);
        if (SUCCEEDED(hr)) *state = static_cast<ZOVA_GrabState>(result.get().ulVal);
        return hr;
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::grabInput() noexcept {
    return ScriptCall(L"grabInput", [&]() noexcept -> HRESULT {
        if (!HasVMControl()) return E_FAIL;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_GRAB_INPUT);
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::ungrabInput() noexcept {
    return ScriptCall(L"ungrabInput", [&]() noexcept -> HRESULT {
        if (!HasVMControl()) return E_FAIL;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_UNGRAB_INPUT);
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::getConnectionState(ZOVA_ConnectionState* state) noexcept {
    return ScriptCall(L"getConnectionState", [&]() noexcept -> HRESULT {
        if (!state) return E_POINTER;
        if (!HasVMControl()) return E_FAIL;
        Variant result;
        const HRESULT hr = CallConsoleFor(vmControl_.get(), ZOVA_DISPID_GET_CONNECTION_STATE, VT_UI4, result);
        if (SUCCEEDED(hr)) *state = static_cast<ZOVA_ConnectionState>(result.get().ulVal);
        return hr;
    });
}

}  // namespace zova

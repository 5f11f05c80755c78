// What the host object's methods do to the page: echo, sleep, exit, resize,
// destroy, createControl, args and the screenshot.
#include "pagehost/page.h"

#include <algorithm>
#include <cstdio>

#include "comfw/bstr.h"
#include "comfw/hresult.h"
#include "comfw/safeArray.h"
#include "pagehost/screenshot.h"
#include "pagehost/text.h"

namespace pagehost {
namespace {

// How echo shows a script value: as JScript would print it where it can.
std::wstring TextOfValue(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY: return L"undefined";
        case VT_NULL: return L"null";
        case VT_BOOL: return v.boolVal ? L"true" : L"false";
        case VT_BSTR: return comfw::TextOf(v.bstrVal);
        default: break;
    }
    comfw::Variant text;
    if (SUCCEEDED(::VariantChangeTypeEx(text.ptr(), const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0, VT_BSTR)))
        return comfw::TextOf(text.get().bstrVal);
    return v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN ? L"[object]" : L"[value of type " + std::to_wstring(v.vt) + L"]";
}

// One line on standard output, flushed at once so that it interleaves with
// what the page's other processes print.
void PrintLine(const std::wstring& line) {
    const std::string text = Utf8(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

HRESULT Page::Echo(SAFEARRAY* words) noexcept {
    if (Ending()) return kPageEnded;
    try {
        std::wstring line;
        comfw::SafeArray copy;
        if (words && SUCCEEDED(comfw::SafeArray::CopyOf(words, copy))) {
            LONG lower = 0, upper = -1;
            copy.bounds(lower, upper);
            for (LONG i = lower; i <= upper; ++i) {
                comfw::Variant v;
                if (FAILED(copy.get_variant(i, *v.ptr()))) continue;
                if (i > lower) line += L' ';
                line += TextOfValue(v.get());
            }
        }
        PrintLine(line);
        return S_OK;
    }
    COMFW_CATCH_RETURN()
}

HRESULT Page::Alert(const VARIANT& message) noexcept {
    if (Ending()) return kPageEnded;
    try {
        const bool missing = message.vt == VT_ERROR && message.scode == DISP_E_PARAMNOTFOUND;
        PrintLine(L"alert: " + (missing ? std::wstring() : TextOfValue(message)));
        return S_OK;
    }
    COMFW_CATCH_RETURN()
}

HRESULT Page::Sleep(LONG milliseconds) noexcept {
    if (Ending()) return kPageEnded;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max<LONG>(milliseconds, 0));
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            if (Ending()) return kPageEnded;
        }
        if (Ending()) return kPageEnded;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return S_OK;
        HANDLE expired = watchdog_.expired();
        ::MsgWaitForMultipleObjectsEx(expired ? 1 : 0, expired ? &expired : nullptr,
                                      static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 0x7fffffff)),
                                      QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

HRESULT Page::Exit(LONG status) noexcept {
    End(static_cast<int>(status));
    return kPageEnded;
}

HRESULT Page::Resize(LONG width, LONG height) noexcept {
    if (Ending()) return kPageEnded;
    if (width <= 0 || height <= 0) return E_INVALIDARG;
    window_.SetClientSize(SIZE{width, height});
    Layout();  // WM_SIZE did too; this covers a size that did not change
    return S_OK;
}

HRESULT Page::Destroy(const std::wstring& id) noexcept {
    if (Ending()) return kPageEnded;
    ControlSite* site = Find(id);
    if (!site) return E_INVALIDARG;
    comfw::ComPtr<ControlSite> keep(site);
    keep->Close();
    Layout();
    return S_OK;
}

HRESULT Page::CreateControl(const std::wstring& id, const std::wstring& classText, Length width, Length height,
                            IDispatch** control) noexcept {
    if (Ending()) return kPageEnded;
    CLSID clsid{};
    HRESULT hr = ClassIdOf(classText, clsid);
    std::wstring error = L"no such class";
    ControlSite* site = nullptr;
    if (SUCCEEDED(hr)) hr = AddControl(id, clsid, ParamList{}, width, height, &site, error);
    if (FAILED(hr)) {
        try {
            Error(L"pagehost: createControl(\"" + id + L"\", \"" + classText + L"\"): " + error + L" failed (" +
                  Hex(hr) + L")");
        }
        COMFW_CATCH_LOG()
        return hr;
    }
    comfw::ComPtr<ControlSite> owned = comfw::ComPtr<ControlSite>::Attach(site);
    return owned->control()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(control));
}

HRESULT Page::Args(VARIANT* out) noexcept {
    return ::VariantCopy(out, const_cast<VARIANT*>(&args_.get()));
}

HRESULT Page::SaveScreenshot(const std::wstring& path) noexcept {
    if (!window_.hwnd()) return E_UNEXPECTED;
    return SavePng(
        window_.ClientSize(),
        [this](HDC dc) {
            RECT all{0, 0, window_.ClientSize().cx, window_.ClientSize().cy};
            ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            for (const auto& site : controls_) site->DrawTo(dc);
        },
        path);
}

}  // namespace pagehost

// Driving the reference console process from a test: starting it as the control does, pumping waits, calls by dispid.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "comfw/comObject.h"
#include "comfw/comPtr.h"
#include "comfw/variant.h"
#include "tests/programFolder.h"

namespace zova::test {

// Dispatches the thread's messages (incoming COM calls among them) until `done` is true or `timeoutMs` has passed;
// returns the final `done`. The wait also wakes when one of `wake` is signalled.
template <class Done>
bool PumpUntil(Done done, DWORD timeoutMs, std::initializer_list<HANDLE> wake = {}) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done()) return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return false;
        ::MsgWaitForMultipleObjects(static_cast<DWORD>(wake.size()), wake.size() ? wake.begin() : nullptr, FALSE,
                                    static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

// Pumps for the whole time.
void Pump(DWORD ms);

// Waits, pumping, for a process to end; true if it did.
bool WaitForExit(HANDLE process, DWORD timeoutMs);

// Sets ZOVA_CONSOLE_FAULTS (null: none) for the consoles started while it lives.
struct ScopedFaults {
    explicit ScopedFaults(const wchar_t* items) { ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", items); }
    ~ScopedFaults() { ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr); }
};

// A fresh ID for one test's console: the control's form with a tag.
std::wstring NewInstanceId(const std::wstring& tag);

comfw::Variant Str(const wchar_t* text);  // null text gives a null BSTR
inline comfw::Variant I4(LONG v) { return comfw::Variant::I4(v); }
inline comfw::Variant UI4(ULONG v) { return comfw::Variant::UI4(v); }
inline comfw::Variant Bool(bool v) { return comfw::Variant::Bool(v); }
inline comfw::Variant Hwnd(HWND w) { return comfw::Variant::I4(static_cast<LONG>(reinterpret_cast<LONG_PTR>(w))); }

// The elements of a VT_ARRAY|VT_VARIANT value, in order (empty otherwise).
std::vector<comfw::Variant> Elements(const VARIANT& array);
// The text of a VT_BSTR value (empty otherwise).
std::wstring TextOf(const VARIANT& v);

// A plain top-level window of this thread to hold a console window.
HWND MakeHostWindow();

// A top-level popup window of this thread with a client area of w x h, destroyed with this (unless the test did).
struct TestWindow {
    HWND hwnd;
    explicit TestWindow(int w = 800, int h = 600)
        : hwnd(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr)) {}
    ~TestWindow() { ::DestroyWindow(hwnd); }
};

// The console window a VM control names (GetHWND), or null.
HWND ConsoleWindowOf(IDispatch* vm);
// A window's rectangle (left, top, right, bottom) in its parent's client area.
std::vector<LONG> PlaceInParent(HWND window);
// A binary PPM file as "WxH:" and its RGB bytes; "" if it cannot be read.
std::string ReadPpm(const std::wstring& path);
// The pixels a VM control's console holds for a real VM (TestSaveFrame), as ReadPpm gives them.
std::string ConsoleFrame(IDispatch* vm);

// A new object of a comfw class (null if it could not be made).
template <class T>
comfw::ComPtr<T> Made() {
    comfw::ComPtr<T> made;
    T::Make(made);
    return made;
}

// A page's parameters as a property bag, recording the names read; also the error log of their loading.
class PropertyBagProbe final : public comfw::ComObject<PropertyBagProbe, IPropertyBag, IErrorLog> {
public:
    std::map<std::wstring, comfw::Variant> values;
    std::vector<std::wstring> reads;
    std::vector<std::pair<std::wstring, SCODE>> errors;
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) noexcept override {
        reads.push_back(name);
        auto it = values.find(name);
        return it == values.end() ? E_INVALIDARG : ::VariantCopy(value, const_cast<VARIANT*>(&it->second.get()));
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) noexcept override { return values[name].copy_from(*value); }
    STDMETHODIMP AddError(LPCOLESTR name, EXCEPINFO* info) noexcept override {
        errors.emplace_back(name, info ? info->scode : S_OK);
        return S_OK;
    }
    // Sets the named parameters to texts, as a page's params arrive.
    void Set(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> texts) {
        for (const auto& [name, text] : texts) values[name] = comfw::Variant::OwnBstr(::SysAllocString(text));
    }
};

// A process a test started; ended by force if the test left it running.
struct Process {
    PROCESS_INFORMATION pi{};
    Process() = default;
    Process(const Process&) = delete;
    ~Process();
    // `line` names the program first; `output`, if given, takes its standard output and error.
    bool Start(std::wstring line, DWORD flags = DETACHED_PROCESS, HANDLE output = nullptr);
    bool running() const { return pi.hProcess && ::WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }
    // Waits, pumping, for the process to end; its exit code, or STILL_ACTIVE.
    DWORD ExitCodeWithin(DWORD ms);
};

}  // namespace zova::test

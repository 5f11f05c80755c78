#include "tests/consoleTestSupport.h"

#include <objbase.h>
#include <cstdio>

#include "comfw/safeArray.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"

namespace zova::test {

void Pump(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

bool WaitForExit(HANDLE process, DWORD timeoutMs) {
    return PumpUntil([process] { return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, timeoutMs, {process});
}

std::wstring NewInstanceId(const std::wstring& tag) {
    GUID guid{};
    ::CoCreateGuid(&guid);
    wchar_t text[64];
    ::StringFromGUID2(guid, text, 64);
    return L"zova-test-" + tag + L"-" + text;
}

comfw::Variant Str(const wchar_t* text) {
    return comfw::Variant::OwnBstr(text ? ::SysAllocString(text) : nullptr);
}

std::vector<comfw::Variant> Elements(const VARIANT& array) {
    std::vector<comfw::Variant> out;
    if (array.vt != (VT_ARRAY | VT_VARIANT) || !array.parray) return out;
    comfw::SafeArray copy;
    if (FAILED(comfw::SafeArray::CopyOf(array.parray, copy)) || copy.dims() != 1) return out;
    LONG lower = 0, upper = -1;
    if (FAILED(copy.bounds(lower, upper))) return out;
    for (LONG i = lower; i <= upper; ++i) {
        comfw::Variant v;
        copy.get_variant(i, *v.put());
        out.push_back(std::move(v));
    }
    return out;
}

std::wstring TextOf(const VARIANT& v) {
    return v.vt == VT_BSTR && v.bstrVal ? std::wstring(v.bstrVal, ::SysStringLen(v.bstrVal)) : std::wstring();
}

HWND MakeHostWindow() {
    return ::CreateWindowExW(0, L"STATIC", L"console host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 800, 600,
                             nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

HWND ConsoleWindowOf(IDispatch* vm) {
    comfw::Variant handle;
    if (FAILED(zova::CallConsoleFor(vm, ZOVA_DISPID_GET_HWND, VT_I4, handle))) return nullptr;
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle.get().lVal));
}

std::vector<LONG> PlaceInParent(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right, r.bottom};
}

std::string ReadPpm(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return "";
    int w = 0, h = 0;
    std::string data;
    if (fscanf(f, "P6 %d %d 255", &w, &h) == 2 && fgetc(f) == '\n') {
        data.resize(static_cast<size_t>(w) * h * 3);
        data.resize(fread(&data[0], 1, data.size(), f));
    }
    fclose(f);
    return std::to_string(w) + "x" + std::to_string(h) + ":" + data;
}

std::string ConsoleFrame(IDispatch* vm) {
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    const std::wstring path = folder + (L"zova-frame-" + std::to_wstring(::GetCurrentProcessId()) + L".ppm");
    const bool saved = SUCCEEDED(zova::CallConsole(vm, ZOVA_DISPID_TEST_SAVE_FRAME, Str(path.c_str())));
    const std::string frame = saved ? ReadPpm(path) : "";
    ::DeleteFileW(path.c_str());
    return frame;
}

Process::~Process() {
    if (running()) ::TerminateProcess(pi.hProcess, 99);
    if (pi.hProcess) ::CloseHandle(pi.hProcess), ::CloseHandle(pi.hThread);
}

bool Process::Start(std::wstring line, DWORD flags, HANDLE output) {
    STARTUPINFOW si{sizeof(si)};
    if (output) si.dwFlags = STARTF_USESTDHANDLES, si.hStdOutput = si.hStdError = output;
    return ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, output != nullptr, flags, nullptr, nullptr, &si, &pi);
}

DWORD Process::ExitCodeWithin(DWORD ms) {
    DWORD code = STILL_ACTIVE;
    return WaitForExit(pi.hProcess, ms) && ::GetExitCodeProcess(pi.hProcess, &code) ? code : STILL_ACTIVE;
}

}  // namespace zova::test

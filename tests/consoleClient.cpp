// A second client process for the console tests: it attaches to a console
// that another process started, as a page in another browser process would.
//   console_client.exe <instance-id> <expected-host> <width> <height>
// It binds the console, attaches a VM control to a window of its own, checks
// that the session is connected to <expected-host>, sets the guest screen to
// <width> x <height>, deletes the control and ends. The exit code names the
// first step that failed (0: all passed).
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>
#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/consoleTestSupport.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"

using namespace zova::console;
using namespace zova::test;

namespace {

enum Step : int {
    kStepOk = 0, kStepUsage, kStepBind, kStepAttach, kStepState, kStepHost, kStepResize, kStepDelete
};

int Attach(const std::wstring& id, const std::wstring& host, LONG width, LONG height) {
    comfw::ComPtr<IDispatch> console;
    if (FAILED(BindConsole(id, console))) return kStepBind;
    const HWND window = MakeHostWindow();
    comfw::Variant control;
    if (FAILED(zova::CallConsoleFor(console.get(), ZOVA_DISPID_ATTACH_CONTROL, VT_DISPATCH, control, Hwnd(window), I4(0), I4(0),
                                    I4(400), I4(300)))) {
        return kStepAttach;
    }
    IDispatch* vm = control.get().pdispVal;
    comfw::Variant state, args;
    if (FAILED(zova::CallConsoleFor(vm, ZOVA_DISPID_GET_CONNECTION_STATE, VT_UI4, state)) || state.get().ulVal != 2) {
        return kStepState;
    }
    if (FAILED(zova::CallConsoleFor(vm, ZOVA_DISPID_TEST_LAST_CONNECT_ARGS, VT_ARRAY | VT_VARIANT, args))) return kStepHost;
    const auto elements = Elements(args.get());
    if (elements.size() != 10 || TextOf(elements[0].get()) != host) return kStepHost;
    if (FAILED(zova::CallConsole(vm, ZOVA_DISPID_SET_SCREEN_SIZE, I4(width), I4(height)))) return kStepResize;
    if (const HRESULT hr = zova::CallConsole(vm, ZOVA_DISPID_DELETE); FAILED(hr)) {
        fwprintf(stderr, L"console_client: Delete failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return kStepDelete;
    }
    ::DestroyWindow(window);
    return kStepOk;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc != 5) return kStepUsage;
    if (FAILED(::OleInitialize(nullptr))) return kStepUsage;
    const int result = Attach(argv[1], argv[2], wcstol(argv[3], nullptr, 10), wcstol(argv[4], nullptr, 10));
    ::OleUninitialize();
    ::LocalFree(argv);
    return result;
}

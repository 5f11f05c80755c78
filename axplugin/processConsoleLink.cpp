// The console link that ships: the event sink of this module and the process
// launcher, binder and teardown of the console link library.
#include "axplugin/consoleLink.h"
#include "axplugin/eventSink.h"
#include "win32/plugin/procControl.h"

namespace zova {
namespace {

class ProcessLink final : public ConsoleLink {
public:
    HRESULT CreateEventSink(ZOVAEmbeddedCtl& owner, comfw::ComPtr<IDispatch>& sink) noexcept override {
        return CreateEventSinkFor(owner, sink);
    }
    HRESULT StartConsoleAndCreateControl(const std::wstring& instanceId, UINT modes, int messageMode,
                                         uint32_t features, HWND parent, const RECT& rect, IDispatch* sink,
                                         comfw::ComPtr<IDispatch>& consoleProcess,
                                         comfw::ComPtr<IDispatch>& vmControl) noexcept override {
        return zova::StartConsoleAndCreateControl(instanceId, modes, messageMode, features, parent, rect, sink,
                                                  consoleProcess, vmControl);
    }
    HRESULT AttachConsoleAndControl(const std::wstring& instanceId, HWND window, const RECT& rect, IDispatch* sink,
                                    comfw::ComPtr<IDispatch>& consoleProcess,
                                    comfw::ComPtr<IDispatch>& vmControl) noexcept override {
        return zova::AttachConsoleAndControl(instanceId, window, rect, sink, consoleProcess, vmControl);
    }
    void TeardownVMControl(comfw::ComPtr<IDispatch>& consoleProcess,
                           comfw::ComPtr<IDispatch>& vmControl) noexcept override {
        zova::TeardownVMControl(consoleProcess, vmControl);
    }
    void ResizeVMWindow(HWND window, IDispatch* vmControl) noexcept override {
        zova::ResizeVMWindow(window, vmControl);
    }
};

}  // namespace

ConsoleLink& ProcessConsoleLink() noexcept {
    static ProcessLink link;
    return link;
}

}  // namespace zova

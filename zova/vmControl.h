// The VM control: one client's view of the console's virtual machine, the
// simulated one or a real one over RFB. It owns a child window in the
// client's window (another process's) in which it draws the guest screen
// (vmControlWindow.cpp), carries every console operation and the test hooks
// (vmControl.cpp), and holds the client's event sink.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "comfw/comObject.h"
#include "comfw/window.h"
#include "zova/consoleDispatch.h"
#include "zova/inputForwarder.h"
#include "zova/rfb/rfbSession.h"
#include "zova/consoleContract.h"

namespace zova::console {

class ConsoleHost;

class VMControl final : public comfw::ComObject<VMControl, ConsoleDispatch<IVMControl>>,
                        public comfw::Window<VMControl> {
public:
    VMControl(ConsoleHost& host, bool attached) noexcept;
    ~VMControl() override;

    // Makes the console window inside `parent` at the rectangle (parent
    // client coordinates).
    HRESULT CreateIn(HWND parent, const RECT& rect) noexcept;

    // The client's sink while advised and not deleted, else null.
    IDispatch* sink() const noexcept { return deleted_ ? nullptr : sink_.get(); }
    // Created and not deleted, and its window still exists.
    bool attached() const noexcept;
    void Repaint() noexcept;

    // IVMControl
    STDMETHODIMP Connect(VARIANT hostname, VARIANT sslThumbprint, VARIANT allowSSLErrors, VARIANT cloneSessionTicket,
                         VARIANT username, VARIANT password, VARIANT moid, VARIANT datacenter,
                         VARIANT vmDataStorePath, VARIANT proxy) noexcept override;
    STDMETHODIMP Disconnect() noexcept override;
    STDMETHODIMP GetConnectionState(ULONG* state) noexcept override;
    STDMETHODIMP GetHWND(LONG* window) noexcept override;
    STDMETHODIMP GetFullscreen(VARIANT_BOOL* fullscreen) noexcept override;
    STDMETHODIMP SetFullscreen(VARIANT_BOOL fullscreen) noexcept override;
    STDMETHODIMP SetScreenSize(LONG width, LONG height) noexcept override;
    STDMETHODIMP GetScreenWidth(LONG* width) noexcept override;
    STDMETHODIMP GetScreenHeight(LONG* height) noexcept override;
    STDMETHODIMP GrabInput() noexcept override;
    STDMETHODIMP UngrabInput() noexcept override;
    STDMETHODIMP GetGrabState(ULONG* state) noexcept override;
    STDMETHODIMP SetInputRelease(VARIANT_BOOL release) noexcept override;
    STDMETHODIMP Advise(IDispatch* sink) noexcept override;
    STDMETHODIMP Delete() noexcept override;
    STDMETHODIMP GetVirtualDevices(ULONG typeMask, VARIANT* keys) noexcept override;
    STDMETHODIMP GetVirtualDeviceDetails(BSTR key, VARIANT* details) noexcept override;
    STDMETHODIMP GetPhysicalClientDevices(ULONG typeMask, VARIANT* keys) noexcept override;
    STDMETHODIMP GetPhysicalClientDeviceDetails(BSTR key, VARIANT* details) noexcept override;
    STDMETHODIMP SendCAD() noexcept override;
    STDMETHODIMP Unadvise() noexcept override;
    STDMETHODIMP ConnectDevice(BSTR virtualKey, BSTR physicalKey, ULONG backing) noexcept override;
    STDMETHODIMP DisconnectDevice(BSTR key) noexcept override;
    STDMETHODIMP TestLastConnectArgs(VARIANT* args) noexcept override;
    STDMETHODIMP TestRaiseEvent(LONG dispid, VARIANT args) noexcept override;
    STDMETHODIMP TestIsAdvised(VARIANT_BOOL* advised) noexcept override;
    STDMETHODIMP TestCADCount(ULONG* count) noexcept override;
    STDMETHODIMP TestProcessId(ULONG* pid) noexcept override;
    STDMETHODIMP TestSaveScreen(BSTR path) noexcept override;
    STDMETHODIMP TestSaveFrame(BSTR path) noexcept override;

    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept;
    void OnFinalMessage(HWND) noexcept;

private:
    void Paint(HDC dc) noexcept;
    bool HandleInput(rfb::RfbSession& session, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    void RaiseDeviceEvents(ULONG state, const std::wstring& virtualKey, const std::wstring& physicalKey);

    ConsoleHost& host_;
    const bool attachedByAttach_;
    HWND parent_ = nullptr;  // the client's window this control was made in
    bool deleted_ = false;
    bool deleting_ = false;
    comfw::ComPtr<IDispatch> sink_;
    InputForwarder input_;
};

}  // namespace zova::console

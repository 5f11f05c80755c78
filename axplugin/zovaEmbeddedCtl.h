// ZOVAEmbeddedCtl: the scriptable control a page creates. It launches or
// attaches to a console process, embeds the console's window in its own,
// forwards the page's calls to the console's VM control and turns console
// events into page events.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <cstdint>
#include <string>
#include <utility>

#include "axplugin/consoleLink.h"
#include "axplugin/pageEvents.h"
#include "axplugin/scriptErrors.h"
#include "axplugin/velmoraRemoteConsole.h"
#include "comfw/oleControl.h"

namespace zova {

// What the control knows of an event sink: how to cut it off. The control
// keeps its sinks in an intrusive list (no allocation, nothing to fail).
class EventSinkOwnerLink {
public:
    virtual void DetachOwner() noexcept = 0;
protected:
    ~EventSinkOwnerLink() = default;
private:
    friend class ZOVAEmbeddedCtl;
    EventSinkOwnerLink* nextSink_ = nullptr;
};

// The interface list is also the order in which QueryInterface answers.
class ZOVAEmbeddedCtl
    : public comfw::ComObject<ZOVAEmbeddedCtl,
                              comfw::DispatchFromTypeLib<IVelmoraEmbeddedRemoteConsole>,
                              comfw::ViewObjectExImpl<ZOVAEmbeddedCtl>,
                              comfw::OleInPlaceObjectWindowlessImpl<ZOVAEmbeddedCtl>,
                              comfw::OleInPlaceActiveObjectImpl<ZOVAEmbeddedCtl>,
                              comfw::OleControlImpl<ZOVAEmbeddedCtl>,
                              comfw::OleObjectImpl<ZOVAEmbeddedCtl>,
                              comfw::PersistStreamInitImpl<ZOVAEmbeddedCtl>,
                              ISupportErrorInfo,
                              comfw::SpecifyPropertyPagesImpl<ZOVAEmbeddedCtl>,
                              comfw::QuickActivateImpl<ZOVAEmbeddedCtl>,
                              comfw::PersistStorageImpl<ZOVAEmbeddedCtl>,
                              comfw::DataObjectImpl<ZOVAEmbeddedCtl>,
                              comfw::ProvideClassInfo2Impl<&CLSID_VelmoraEmbeddedRemoteConsole,
                                                           &DIID__IVelmoraEmbeddedRemoteConsoleEvents>,
                              comfw::ConnectionPointContainerImpl<&DIID__IVelmoraEmbeddedRemoteConsoleEvents>,
                              comfw::ObjectSafetyImpl<ZOVAEmbeddedCtl>,
                              comfw::PersistPropertyBagImpl<ZOVAEmbeddedCtl>>,
      public comfw::OleControlBase<ZOVAEmbeddedCtl>,
      public CProxy_IVelmoraRemoteConsoleEvents {
public:
    static const CLSID& class_id() noexcept { return CLSID_VelmoraEmbeddedRemoteConsole; }
    // Only the extent is loaded from the page's parameters or saved.
    static comfw::PropertyMap<ZOVAEmbeddedCtl> property_map() noexcept {
        static const comfw::PropertyEntry<ZOVAEmbeddedCtl> entries[] = {
            comfw::ExtentWidthProperty<ZOVAEmbeddedCtl>(L"_cx"),
            comfw::ExtentHeightProperty<ZOVAEmbeddedCtl>(L"_cy")};
        return comfw::PropertyMap<ZOVAEmbeddedCtl>(entries);
    }

    ZOVAEmbeddedCtl() noexcept;
    ~ZOVAEmbeddedCtl() override;

    // --- IVelmoraEmbeddedRemoteConsole: lifecycle
    STDMETHODIMP getVersion(BSTR* version) noexcept override;
    STDMETHODIMP isInProtectedMode(VARIANT_BOOL* retVal) noexcept override;
    STDMETHODIMP startup(UINT modes, ZOVA_MessageMode messageMode, BSTR advancedConfiguration,
                         BSTR* retVal) noexcept override;
    STDMETHODIMP attach(BSTR id) noexcept override;
    STDMETHODIMP shutdown() noexcept override;
    STDMETHODIMP isReadyToStart(VARIANT_BOOL* retVal) noexcept override;

    // --- session and input
    STDMETHODIMP connect(BSTR hostname, BSTR sslThumbprint, VARIANT_BOOL allowSSLErrors, BSTR cloneSessionTicket,
                         BSTR username, BSTR password, BSTR moid, BSTR datacenter,
                         BSTR vmDataStorePath) noexcept override;
    STDMETHODIMP disconnect() noexcept override;
    STDMETHODIMP setInputRelease(VARIANT_BOOL release) noexcept override;
    STDMETHODIMP setScreenSize(INT width, INT height) noexcept override;
    STDMETHODIMP screenWidth(INT* retVal) noexcept override;
    STDMETHODIMP screenHeight(INT* retVal) noexcept override;
    STDMETHODIMP sendCAD() noexcept override;
    STDMETHODIMP setFullscreen(VARIANT_BOOL fullscreen) noexcept override;
    STDMETHODIMP getFullscreen(VARIANT_BOOL* retVal) noexcept override;
    STDMETHODIMP getGrabState(ZOVA_GrabState* state) noexcept override;
    STDMETHODIMP grabInput() noexcept override;
    STDMETHODIMP ungrabInput() noexcept override;
    STDMETHODIMP getConnectionState(ZOVA_ConnectionState* state) noexcept override;

    // --- devices
    STDMETHODIMP getVirtualDevices(UINT devTypeMask, VARIANT* result) noexcept override;
    STDMETHODIMP getVirtualDeviceDetails(BSTR deviceKey, IVirtualDeviceDetails** ppi) noexcept override;
    STDMETHODIMP getPhysicalClientDevices(UINT devTypeMask, VARIANT* result) noexcept override;
    STDMETHODIMP getPhysicalClientDeviceDetails(BSTR deviceKey, IPhysicalClientDeviceDetails** ppi) noexcept override;
    STDMETHODIMP connectDevice(BSTR virtualDeviceKey, BSTR physicalClientDeviceKey,
                               ZOVA_DeviceBacking backing) noexcept override;
    STDMETHODIMP disconnectDevice(BSTR key) noexcept override;

    // --- constant dictionaries
    STDMETHODIMP get_ZOVA_Mode(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_MessageMode(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_ConnectionState(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_MessageType(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_GrabState(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_DeviceType(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_DeviceBacking(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_DeviceState(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_USBDeviceFamily(VARIANT* retVal) noexcept override;
    STDMETHODIMP get_ZOVA_USBDeviceSpeed(VARIANT* retVal) noexcept override;

    // --- ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) noexcept override;

    // The control's own handling of its window, ahead of the framework's.
    LRESULT OnControlMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept;
    // The console's window covers the control; the black background shows elsewhere.
    HRESULT OnDraw(HDC, const RECT&) noexcept { return S_OK; }

    // --- what the event sink and the tests reach
    HWND window() const noexcept { return hwnd(); }
    IDispatch* vm_control() const noexcept { return vmControl_.get(); }
    IDispatch* console_process() const noexcept { return consoleProcess_.get(); }
    bool persistent() const noexcept { return persistent_; }
    // Fits the console window to this control's client area.
    void RefitConsoleWindow() noexcept { link_->ResizeVMWindow(hwnd(), vmControl_.get()); }
    // Replaces the console link (tests); the default is the process link.
    void set_console_link(ConsoleLink& link) noexcept { link_ = &link; }
    // The event sinks of this control's links, the current one and any that
    // a console still holds after a shutdown. The control holds no reference
    // on them; a sink tells the control when it goes, and the control cuts
    // every sink off when it is destroyed, so that no event reaches a control
    // that is gone. Events queued before a shutdown still reach the page.
    void AdoptSink(EventSinkOwnerLink* sink) noexcept;
    void ForgetSink(EventSinkOwnerLink* sink) noexcept;

    // The hosting page's protocol, host name and port as its location reports
    // them; false (reported) when any could not be read or there is no client
    // site. The parts read before a failure keep their values.
    bool GetPageOrigin(std::wstring& protocol, std::wstring& hostname, std::wstring& port) noexcept;
    // Whether the hosting site may reach the client machine's devices: allowed
    // earlier in this process or remembered in the settings, or allowed now
    // by the user in the confirmation dialog (which may run a modal loop for
    // up to ten seconds). False without a dialog when the origin is unknown.
    bool CheckSiteAccess() noexcept;

    // "zova-ax-" + "p-"/"t-" + a new GUID in registry form.
    static std::wstring MakeInstanceId(bool persistent);
    // The module's product version, "5.1.0.<build>".
    static std::wstring VersionText();

private:
    // The guard every console operation shares: false (after the trace) when
    // no VM control is held.
    bool HasVMControl() noexcept;
    // The gate of the client-device operations: in the browser's process the
    // site access check decides; other host processes are not guarded.
    bool ClientDevicesAllowed() noexcept;
    RECT ClientRectForConsole() const noexcept;
    // Runs `start` (a launch or an attach that waits for the console while
    // the thread's messages are dispatched) as the control's one pending
    // start. A shutdown or the window's end while it waits cancels it: what
    // it made is torn down again and the result is E_ABORT, so that the
    // control ends Idle, never half started.
    template <class Start>
    HRESULT RunStart(Start&& start, comfw::ComPtr<IDispatch>& process, comfw::ComPtr<IDispatch>& vm) noexcept;
    void Teardown() noexcept;
    HRESULT ConstantDictionary(int which, VARIANT* retVal) noexcept;
    HRESULT MakeConstantDictionary(int which, VARIANT* retVal) noexcept;

    // Runs the body of the scripting method `method` and leaves the script's
    // error object for its outcome (scriptErrors.h). Calls that the body's
    // waits let in nest, each with its own reason.
    template <class Body>
    HRESULT ScriptCall(const wchar_t* method, Body&& body) noexcept {
        std::wstring why;
        std::wstring* const outer = std::exchange(why_, &why);
        const HRESULT hr = body();
        why_ = outer;
        return AnswerScript(method, hr, why);
    }
    // Says, in a page author's words, why the current scripting call fails.
    void Because(const wchar_t* why) noexcept {
        if (why_) why_->assign(why);
    }
    void Because(const std::wstring& why) noexcept {
        if (why_) why_->assign(why);
    }
    std::wstring* why_ = nullptr;

    comfw::ComPtr<IDispatch> consoleProcess_;
    comfw::ComPtr<IDispatch> vmControl_;
    bool persistent_ = false;

    ConsoleLink* link_;
    bool starting_ = false;   // a startup or attach is waiting for its console
    bool cancelled_ = false;  // ... and was cancelled meanwhile
    EventSinkOwnerLink* sinks_ = nullptr;
};

}  // namespace zova

// The VM control's window: its painting (the real VM's screen scaled to the
// window, or the simulated VM's status panel), printing for screenshots, and
// the keyboard and mouse sent to a real VM.
#include "zova/vmControl.h"

#include "comfw/foreignPrint.h"
#include "comfw/hresult.h"
#include "zova/consoleHost.h"
#include "zova/statusPanel.h"

namespace zova::console {

VMControl::VMControl(ConsoleHost& host, bool attached) noexcept : host_(host), attachedByAttach_(attached) {
    host_.ControlObjectMade();
}

VMControl::~VMControl() {
    host_.RemoveControl(this);
    deleting_ = true;
    if (hwnd() && ::IsWindow(hwnd())) ::DestroyWindow(hwnd());
    host_.ControlObjectGone();
}

HRESULT VMControl::CreateIn(HWND parent, const RECT& rect) noexcept {
    if (!parent || !::IsWindow(parent)) return E_INVALIDARG;
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    if (!CreateWindowFor(parent, &rect, L"VM console", style, 0)) return comfw::LastErrorHresult();
    parent_ = parent;
    try {
        host_.AddControl(this);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// A client that ended without Delete may leave this window behind, orphaned
// and never told: the client's window is what shows whether it is still there.
bool VMControl::attached() const noexcept {
    return !deleted_ && hwnd() && ::IsWindow(hwnd()) && ::IsWindow(parent_);
}

void VMControl::Repaint() noexcept {
    if (hwnd()) ::InvalidateRect(hwnd(), nullptr, TRUE);
}

void VMControl::OnFinalMessage(HWND) noexcept {
    // The parent window went away without Delete: this control is detached.
    if (!deleting_) host_.ScheduleLifetimeCheck();
}

LRESULT VMControl::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept {
    if (msg == comfw::ForeignPrintMessage()) {
        // A client process asks for the guest screen's pixels (screenshots).
        handled = true;
        return comfw::AnswerForeignPrint(hwnd(), wp, lp);
    }
    if (rfb::RfbSession* session = host_.rfb().session(); session && session->connected()) {
        if (HandleInput(*session, msg, wp, lp)) {
            handled = true;
            return 0;
        }
    }
    if (msg == WM_ERASEBKGND) {
        handled = true;
        return 1;  // WM_PAINT fills the whole window
    }
    if (msg == WM_PRINTCLIENT) {
        handled = true;
        Paint(reinterpret_cast<HDC>(wp));
        return 0;
    }
    if (msg == WM_PAINT) {
        handled = true;
        PAINTSTRUCT ps;
        if (HDC dc = ::BeginPaint(hwnd(), &ps)) {
            Paint(dc);
            ::EndPaint(hwnd(), &ps);
        }
        return 0;
    }
    return 0;
}

void VMControl::Paint(HDC dc) noexcept {
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    if (host_.rfb().Paint(dc, client)) return;
    DrawStatusPanel(dc, client, host_.session(),
                    L"Guest console  [" + host_.options().instanceId + L"]" + (attachedByAttach_ ? L"  (attached)" : L""));
}

// Keys and the mouse go to the real VM while the window has them; its focus
// is the input grab.
bool VMControl::HandleInput(rfb::RfbSession& session, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    const VmSession& s = host_.session();
    if (input_.Forward(hwnd(), session, s.screenWidth, s.screenHeight, msg, wp, lp)) return true;
    switch (msg) {
        case WM_SETFOCUS:
            // The window's focus is the input grab while a real VM is shown.
            host_.SetGrabState(kGrabbed);
            return true;
        case WM_KILLFOCUS:
            input_.ReleaseAll(session);
            host_.SetGrabState(kUngrabbedHard);
            return true;
        default:
            return false;
    }
}

}  // namespace zova::console

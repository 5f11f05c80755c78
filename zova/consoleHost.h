// The console process's own state and hidden window: the simulated session,
// the VM controls that view it, the queue of events waiting to be raised and
// the rules for when the process ends.
//
// Events are raised like a real console raises them: an operation queues them
// and posts a message to the hidden window; they go out from the message loop
// after the operation's call has returned, in the order they were queued. An
// event is dropped if its control has been unadvised or deleted meanwhile.
//
// Lifetime: the process ends
//  - non-persistent (no bit 4 in --features): when a VM control has been
//    deleted or the parent process has gone, and no control is attached; at
//    once if the clients have released every VM control too, else after a
//    grace period of a few seconds in which they still may (so that a
//    client's last calls and releases still find the process);
//  - any: when no control has been attached for the idle limit (from the
//    start, or since the last one went).
// A control is attached from its CreateControl/AttachControl until Delete or
// until its window is destroyed from outside (its parent window went away).
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <deque>
#include <memory>
#include <vector>

#include "comfw/comPtr.h"
#include "comfw/variant.h"
#include "comfw/window.h"
#include "zova/commandLine.h"
#include "zova/fullScreenWindow.h"
#include "zova/rfbLink.h"
#include "zova/vmSession.h"

namespace zova::console {

class VMControl;

class ConsoleHost final : public comfw::Window<ConsoleHost> {
public:
    ConsoleHost(const ConsoleOptions& options, DWORD idleLimitMs);
    ~ConsoleHost();

    bool Create() noexcept;
    const ConsoleOptions& options() const noexcept { return options_; }
    bool persistent() const noexcept { return (options_.features & kFeaturePersistent) != 0; }
    VmSession& session() noexcept { return session_; }

    // VM controls register while they exist.
    void AddControl(VMControl* control);
    void RemoveControl(VMControl* control) noexcept;
    // Counts VM control objects from construction to destruction.
    void ControlObjectMade() noexcept { ++liveControlObjects_; }
    void ControlObjectGone() noexcept;
    const std::vector<VMControl*>& controls() const noexcept { return controls_; }

    // Queues an event for one control (args in call order); `to` null: for
    // every advised control.
    void Raise(VMControl* to, DISPID id, std::vector<comfw::Variant> args) noexcept;
    // Redraws every control's window after the session changed.
    void Repaint() noexcept;

    // The session's events for every advised control: the connection state
    // with the session's host, datacenter and VM id; a message for the user
    // (in the event message mode only); the session's screen size.
    void RaiseConnectionState(ULONG state, bool userRequested, const std::wstring& reason) noexcept;
    void RaiseMessage(ULONG type, const std::wstring& text) noexcept;
    void RaiseScreenSize() noexcept;
    // Sets the session's grab state and raises its event if it changed.
    void SetGrabState(ULONG state) noexcept;

    // The link to a real VM (host:port endpoints).
    RfbLink& rfb() noexcept { return rfb_; }
    // The real VM's full-screen window, shown while the session is in full
    // screen and a real VM is connected.
    void ShowFullScreen(bool on) noexcept;

    // Re-checks the lifetime rules once the current call has returned.
    void ScheduleLifetimeCheck() noexcept;
    void NoteControlDeleted() noexcept { deletedAny_ = true; ScheduleLifetimeCheck(); }
    void NoteParentGone() noexcept { parentGone_ = true; ScheduleLifetimeCheck(); }

    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept;

private:
    struct Pending {
        comfw::ComPtr<VMControl> control;
        comfw::ComPtr<IDispatch> sink;
        DISPID id;
        std::vector<comfw::Variant> args;  // call order
    };

    void FireQueued() noexcept;
    void CheckLifetime() noexcept;
    void Quit() noexcept;
    size_t AttachedCount() const noexcept;

    ConsoleOptions options_;
    DWORD idleLimitMs_;
    VmSession session_;
    RfbLink rfb_{*this};
    std::unique_ptr<FullScreenWindow> fullScreen_;
    std::vector<VMControl*> controls_;
    std::deque<Pending> queue_;
    bool firing_ = false;
    bool deletedAny_ = false;
    bool parentGone_ = false;
    bool idleTimerRunning_ = false;
    bool graceTimerRunning_ = false;
    size_t liveControlObjects_ = 0;
    bool quitting_ = false;
};

}  // namespace zova::console

#include "zova/consoleHost.h"

#include <algorithm>

#include "zova/consoleContract.h"
#include "zova/vmControl.h"

namespace zova::console {
namespace {

constexpr UINT kFireEventsMessage = WM_APP + 1;
constexpr UINT kCheckLifetimeMessage = WM_APP + 2;
constexpr UINT_PTR kIdleTimer = 1;
constexpr UINT_PTR kGraceTimer = 2;
constexpr UINT kGraceMs = 3000;
// While controls are attached their clients' windows are looked at this
// often: a client process that ends does not always tell its console.
constexpr UINT_PTR kWatchTimer = 3;
constexpr UINT kWatchMs = 1000;

comfw::Variant TextArg(const std::wstring& s) {
    return comfw::Variant::OwnBstr(::SysAllocStringLen(s.data(), static_cast<UINT>(s.size())));
}

}  // namespace

ConsoleHost::ConsoleHost(const ConsoleOptions& options, DWORD idleLimitMs)
    : options_(options), idleLimitMs_(idleLimitMs) {}

ConsoleHost::~ConsoleHost() {
    queue_.clear();
    if (hwnd()) ::DestroyWindow(hwnd());
}

bool ConsoleHost::Create() noexcept {
    const RECT none{0, 0, 0, 0};
    if (!CreateWindowFor(HWND_MESSAGE, &none, L"", 0, 0)) return false;
    // Counts from the start: a console that nobody ever attaches to ends too.
    CheckLifetime();
    return true;
}

void ConsoleHost::AddControl(VMControl* control) {
    controls_.push_back(control);
    if (idleTimerRunning_) {
        ::KillTimer(hwnd(), kIdleTimer);
        idleTimerRunning_ = false;
    }
}

void ConsoleHost::RemoveControl(VMControl* control) noexcept {
    controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
}

void ConsoleHost::ControlObjectGone() noexcept {
    --liveControlObjects_;
    if (liveControlObjects_ == 0 && graceTimerRunning_) ScheduleLifetimeCheck();
}

void ConsoleHost::Raise(VMControl* to, DISPID id, std::vector<comfw::Variant> args) noexcept {
    try {
        bool queued = false;
        for (VMControl* control : controls_) {
            if ((to && control != to) || !control->sink()) continue;
            Pending p{comfw::ComPtr<VMControl>(control), comfw::ComPtr<IDispatch>(control->sink()), id, {}};
            for (const comfw::Variant& a : args) {
                comfw::Variant copy;
                if (FAILED(copy.copy_from(a.get()))) return;
                p.args.push_back(std::move(copy));
            }
            queue_.push_back(std::move(p));
            queued = true;
        }
        if (queued) ::PostMessageW(hwnd(), kFireEventsMessage, 0, 0);
    } catch (...) {
        // Out of memory: the event is lost, as a real console would lose it.
    }
}

void ConsoleHost::RaiseConnectionState(ULONG state, bool userRequested, const std::wstring& reason) noexcept {
    try {
        std::vector<comfw::Variant> args;
        args.push_back(comfw::Variant::UI4(state));
        args.push_back(TextArg(session_.host));
        args.push_back(TextArg(session_.datacenter));
        args.push_back(TextArg(session_.moid));
        args.push_back(comfw::Variant::Bool(userRequested));
        args.push_back(TextArg(reason));
        Raise(nullptr, ZOVA_EVENTID_CONNECTION_STATE_CHANGE, std::move(args));
    } catch (...) {
    }
}

void ConsoleHost::RaiseMessage(ULONG type, const std::wstring& text) noexcept {
    if (options_.messageMode != kEventMessages) return;
    try {
        std::vector<comfw::Variant> args;
        args.push_back(comfw::Variant::UI4(type));
        args.push_back(TextArg(text));
        Raise(nullptr, ZOVA_EVENTID_MESSAGE, std::move(args));
    } catch (...) {
    }
}

void ConsoleHost::RaiseScreenSize() noexcept {
    try {
        std::vector<comfw::Variant> args;
        args.push_back(comfw::Variant::I4(session_.screenWidth));
        args.push_back(comfw::Variant::I4(session_.screenHeight));
        Raise(nullptr, ZOVA_EVENTID_SCREEN_SIZE_CHANGE, std::move(args));
    } catch (...) {
    }
}

void ConsoleHost::SetGrabState(ULONG state) noexcept {
    if (session_.grabState == state) return;
    session_.grabState = state;
    try {
        std::vector<comfw::Variant> args;
        args.push_back(comfw::Variant::UI4(state));
        Raise(nullptr, ZOVA_EVENTID_GRAB_STATE_CHANGE, std::move(args));
    } catch (...) {
    }
}

void ConsoleHost::ShowFullScreen(bool on) noexcept {
    if (!on || !rfb_.active()) {
        fullScreen_.reset();
        return;
    }
    if (fullScreen_) return;
    fullScreen_.reset(new (std::nothrow) FullScreenWindow(*this));
    if (fullScreen_ && !fullScreen_->Show()) fullScreen_.reset();
}

void ConsoleHost::Repaint() noexcept {
    for (VMControl* control : controls_) control->Repaint();
    if (fullScreen_) fullScreen_->Repaint();
}

void ConsoleHost::ScheduleLifetimeCheck() noexcept {
    ::PostMessageW(hwnd(), kCheckLifetimeMessage, 0, 0);
}

size_t ConsoleHost::AttachedCount() const noexcept {
    return static_cast<size_t>(std::count_if(controls_.begin(), controls_.end(),
                                             [](const VMControl* c) { return c->attached(); }));
}

void ConsoleHost::FireQueued() noexcept {
    // The outgoing call lets COM dispatch incoming calls and messages, so this
    // can be entered again; the outer run keeps going and keeps the order.
    if (firing_) return;
    firing_ = true;
    while (!queue_.empty()) {
        Pending p = std::move(queue_.front());
        queue_.pop_front();
        if (p.control->sink() != p.sink.get()) continue;  // unadvised or deleted since
        std::vector<VARIANTARG> lastFirst(p.args.size());
        for (size_t i = 0; i < p.args.size(); ++i) lastFirst[p.args.size() - 1 - i] = p.args[i].get();
        DISPPARAMS params{lastFirst.empty() ? nullptr : lastFirst.data(), nullptr,
                          static_cast<UINT>(lastFirst.size()), 0};
        comfw::Variant result;
        p.sink->Invoke(p.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.ptr(), nullptr,
                       nullptr);
    }
    firing_ = false;
}

void ConsoleHost::CheckLifetime() noexcept {
    if (quitting_) return;
    if (AttachedCount() > 0) {
        if (idleTimerRunning_) ::KillTimer(hwnd(), kIdleTimer);
        if (graceTimerRunning_) ::KillTimer(hwnd(), kGraceTimer);
        idleTimerRunning_ = graceTimerRunning_ = false;
        ::SetTimer(hwnd(), kWatchTimer, kWatchMs, nullptr);
        return;
    }
    ::KillTimer(hwnd(), kWatchTimer);
    if (!persistent() && (deletedAny_ || parentGone_)) {
        if (liveControlObjects_ == 0) {
            Quit();
        } else if (!graceTimerRunning_) {
            ::SetTimer(hwnd(), kGraceTimer, kGraceMs, nullptr);
            graceTimerRunning_ = true;
        }
        return;
    }
    if (!idleTimerRunning_) {
        ::SetTimer(hwnd(), kIdleTimer, idleLimitMs_, nullptr);
        idleTimerRunning_ = true;
    }
}

void ConsoleHost::Quit() noexcept {
    if (quitting_) return;
    quitting_ = true;
    ::KillTimer(hwnd(), kIdleTimer);
    ::KillTimer(hwnd(), kGraceTimer);
    ::PostQuitMessage(0);
}

LRESULT ConsoleHost::HandleMessage(UINT msg, WPARAM wp, LPARAM, bool& handled) noexcept {
    switch (msg) {
        case kFireEventsMessage:
            handled = true;
            FireQueued();
            return 0;
        case RfbLink::kNoticeMessage:
            handled = true;
            rfb_.TakeNotices();
            return 0;
        case kCheckLifetimeMessage:
            handled = true;
            CheckLifetime();
            return 0;
        case WM_TIMER:
            if (wp == kWatchTimer) {
                handled = true;
                CheckLifetime();
                return 0;
            }
            if (wp != kIdleTimer && wp != kGraceTimer) return 0;
            handled = true;
            ::KillTimer(hwnd(), wp);
            (wp == kIdleTimer ? idleTimerRunning_ : graceTimerRunning_) = false;
            if (AttachedCount() == 0) Quit();
            return 0;
        default:
            return 0;
    }
}

}  // namespace zova::console

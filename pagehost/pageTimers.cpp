// The page's timers (setTimeout, setInterval): window timers of the host
// window, whose WM_TIMER calls the script function in whatever message loop
// takes it, as a browser's do.
#include "pagehost/page.h"

#include <algorithm>

#include "comfw/hresult.h"

namespace pagehost {

HRESULT Page::StartTimer(IDispatch* handler, LONG milliseconds, bool repeat, LONG* timer) noexcept {
    *timer = 0;
    if (Ending()) return kPageEnded;
    try {
        const UINT_PTR id = ++lastTimer_;
        timers_[id] = Timer{comfw::ComPtr<IDispatch>(handler), repeat, false};
        if (!::SetTimer(window_.hwnd(), id, static_cast<UINT>(std::max<LONG>(milliseconds, 0)), nullptr)) {
            const DWORD error = ::GetLastError();
            timers_.erase(id);
            return HRESULT_FROM_WIN32(error);
        }
        *timer = static_cast<LONG>(id);
        return S_OK;
    }
    COMFW_CATCH_RETURN()
}

void Page::StopTimer(LONG timer) noexcept {
    const auto found = timers_.find(static_cast<UINT_PTR>(timer));
    if (found == timers_.end()) return;
    ::KillTimer(window_.hwnd(), found->first);
    timers_.erase(found);
}

void Page::OnTimer(UINT_PTR id) noexcept {
    const auto found = timers_.find(id);
    if (found == timers_.end() || found->second.running || Ending()) return;
    const comfw::ComPtr<IDispatch> handler = found->second.handler;
    if (found->second.repeat) {
        found->second.running = true;
    } else {
        ::KillTimer(window_.hwnd(), id);
        timers_.erase(found);
    }
    DISPPARAMS none{};
    CallScript(handler.get(), DISPID_VALUE, &none, nullptr, L"a timer's function");
    // The function may have cleared its own timer.
    if (const auto again = timers_.find(id); again != timers_.end()) again->second.running = false;
}

}  // namespace pagehost

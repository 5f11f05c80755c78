// Ends a page that runs too long. After the time limit the watchdog signals
// `expired`, which the page's message waits and checks notice; a page whose
// script is busy and never returns to the host cannot notice, so after a
// grace period the watchdog ends the process itself.
#pragma once

#include <windows.h>

#include "comfw/uniqueAny.h"

namespace pagehost {

class Watchdog {
public:
    Watchdog() = default;
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() { Stop(); }

    // Starts watching; false when the thread could not be started.
    bool Start(DWORD limitMs, DWORD graceMs, int status) noexcept;
    // The page has ended: the watchdog stands down.
    void Stop() noexcept;
    // Signalled once the limit has passed (null when not started).
    HANDLE expired() const noexcept { return expired_.get(); }
    bool HasExpired() const noexcept {
        return expired_ && ::WaitForSingleObject(expired_.get(), 0) == WAIT_OBJECT_0;
    }
    DWORD limitMs() const noexcept { return limitMs_; }

private:
    static DWORD WINAPI Run(void* self) noexcept;

    comfw::unique_handle thread_;
    comfw::unique_handle done_;
    comfw::unique_handle expired_;
    DWORD limitMs_ = 0;
    DWORD graceMs_ = 0;
    int status_ = 0;
};

}  // namespace pagehost

#include "pagehost/watchdog.h"

#include <cstdio>

namespace pagehost {

bool Watchdog::Start(DWORD limitMs, DWORD graceMs, int status) noexcept {
    limitMs_ = limitMs;
    graceMs_ = graceMs;
    status_ = status;
    done_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    expired_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done_ || !expired_) return false;
    thread_.reset(::CreateThread(nullptr, 0, &Watchdog::Run, this, 0, nullptr));
    return thread_.is_valid();
}

void Watchdog::Stop() noexcept {
    if (thread_) {
        ::SetEvent(done_.get());
        ::WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }
    done_.reset();
    expired_.reset();
}

DWORD WINAPI Watchdog::Run(void* param) noexcept {
    auto* self = static_cast<Watchdog*>(param);
    if (::WaitForSingleObject(self->done_.get(), self->limitMs_) == WAIT_OBJECT_0) return 0;
    ::SetEvent(self->expired_.get());
    if (::WaitForSingleObject(self->done_.get(), self->graceMs_) == WAIT_OBJECT_0) return 0;
    // The page's thread is stuck in script and cannot be unwound.
    std::fprintf(stderr, "pagehost: page timed out after %lu ms and did not stop within %lu ms; ending the process\n",
                 static_cast<unsigned long>(self->limitMs_), static_cast<unsigned long>(self->graceMs_));
    std::fflush(stdout);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(self->status_));
    return 0;
}

}  // namespace pagehost

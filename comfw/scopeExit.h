// Runs a function when the scope ends, however it ends (WIL's scope_exit).
#pragma once

#include <utility>

namespace comfw {

template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { if (armed_) f_(); }
    void release() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

template <class F>
[[nodiscard]] ScopeExit<F> scope_exit(F f) noexcept { return ScopeExit<F>(std::move(f)); }

}  // namespace comfw

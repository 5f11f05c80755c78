// Module-wide state: the instance handle of the module that contains this
// code, and the lock count that live objects hold on it.
#pragma once

#include <windows.h>

namespace comfw {

class Module {
public:
    // The DLL or executable that this code is linked into.
    static HMODULE Handle() noexcept;
    static void Lock() noexcept;
    static void Unlock() noexcept;
    static LONG LockCount() noexcept;
};

}  // namespace comfw

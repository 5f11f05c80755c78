// Module-wide state: the instance handle of the module that contains this
// code, and the lock count that live objects hold on it.
#pragma once

#include <windows.h>
#include <string>

namespace comfw {

class Module {
public:
    // The DLL or executable that this code is linked into.
    static HMODULE Handle() noexcept;
    static void Lock() noexcept;
    static void Unlock() noexcept;
    static LONG LockCount() noexcept;
    // The full path of `module` (null: the process's executable) into `path`.
    // On failure `path` is empty and the Win32 error is kept in
    // GetLastError(); a path longer than MAX_PATH counts as a failure
    // (ERROR_INSUFFICIENT_BUFFER).
    static HRESULT FileName(HMODULE module, std::wstring& path) noexcept;
};

}  // namespace comfw

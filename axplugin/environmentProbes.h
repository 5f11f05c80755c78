// What kind of browser process hosts the control.
#pragma once

#include <windows.h>

namespace zova {

// Whether the browser runs this process in protected mode: S_OK with the
// answer, E_NOTIMPL when the platform has no such query (answer untouched),
// or the query's failure. The answer is cached once it could be told.
HRESULT QueryProtectedMode(BOOL* answer) noexcept;

// Whether the host process is the browser's own executable (true also when the
// process name cannot be read, so that guarded operations stay guarded).
bool IsIExploreProcess() noexcept;

}  // namespace zova

// The simulated VM's screen: a text panel of the session's state.
#pragma once

#include <windows.h>
#include <string>

#include "zova/vmSession.h"

namespace zova::console {

void DrawStatusPanel(HDC dc, const RECT& area, const VmSession& session, const std::wstring& title) noexcept;

}  // namespace zova::console

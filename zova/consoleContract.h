// What the control and the console process share: the dispatch ids and event
// numbers of the console's objects (from the header that widl writes from
// zovaConsole.idl, so that a change there reaches both sides or fails the
// build) and the names under which a console announces itself.
#pragma once

#include <windows.h>

#include "zova/zovaConsole.h"

namespace zova::console {

// The running object table holds a console process object under the file
// moniker kMonikerPrefix + instance ID; the console sets the named event
// kReadyEventPrefix + instance ID once it is there.
inline constexpr wchar_t kMonikerPrefix[] = L"ZOVA_MONIKER_";
inline constexpr wchar_t kReadyEventPrefix[] = L"ZOVA_EVENT_";

}  // namespace zova::console

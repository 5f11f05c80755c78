// Windows keys as X keysyms, which is how RFB names keys: the special keys
// by table (the right-hand modifiers and the keypad's Enter told apart by the
// extended-key bit of a key message's lParam), characters by what the key
// types with Shift up or down on the US layout the guest is assumed to use.
#pragma once

#include <windows.h>
#include <cstdint>

namespace zova::console {

// 0 when the key has no keysym.
uint32_t KeysymFor(UINT virtualKey, bool extended, bool shift) noexcept;

// Keysyms the console sends on its own.
constexpr uint32_t kKeysymControlL = 0xFFE3, kKeysymAltL = 0xFFE9, kKeysymDelete = 0xFFFF;

}  // namespace zova::console

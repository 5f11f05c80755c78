// Keyboard and mouse messages of a window that shows the real VM, sent to it
// as RFB key and pointer events: keys as keysyms (each release sends what its
// press sent, whatever Shift did meanwhile), the pointer scaled from the
// window to the guest's screen, the wheel as a press and release of button
// 4 (up) or 5 (down), and pasted text as ClientCutText.
#pragma once

#include <windows.h>
#include <cstdint>

#include "zova/rfb/rfbSession.h"

namespace zova::console {

class InputForwarder {
public:
    // True if `msg` was keyboard, mouse or paste input and went to `session`.
    bool Forward(HWND window, rfb::RfbSession& session, int guestWidth, int guestHeight, UINT msg, WPARAM wp,
                 LPARAM lp) noexcept;
    // Releases every key still held (the window lost the focus).
    void ReleaseAll(rfb::RfbSession& session) noexcept;

private:
    uint32_t pressed_[256] = {};  // keysym sent for each key held down
};

}  // namespace zova::console

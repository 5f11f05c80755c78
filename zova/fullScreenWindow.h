// The console's full-screen window for a real VM: a top-level window over
// the whole primary monitor that shows the same screen as the VM controls'
// windows and takes keyboard and mouse for the guest. The embedded windows
// stay where the client put them.
#pragma once

#include <windows.h>

#include "comfw/window.h"
#include "zova/inputForwarder.h"

namespace zova::console {

class ConsoleHost;

class FullScreenWindow final : public comfw::Window<FullScreenWindow> {
public:
    explicit FullScreenWindow(ConsoleHost& host) noexcept : host_(host) {}
    ~FullScreenWindow();

    bool Show() noexcept;
    void Repaint() noexcept;

    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept;

private:
    ConsoleHost& host_;
    InputForwarder input_;
};

}  // namespace zova::console

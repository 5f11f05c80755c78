// The console's link to a real virtual machine over RFB: the endpoint
// policy check, the session with its reader thread, and the session's
// notices turned into the console's state and events on the STA thread.
// Every VM control of the process shows the one link's screen, as every one
// shows the one simulated session.
#pragma once

#include <windows.h>
#include <memory>
#include <string>

#include "zova/endpointPolicy.h"
#include "zova/rfb/rfbSession.h"

namespace zova::console {

class ConsoleHost;

class RfbLink {
public:
    explicit RfbLink(ConsoleHost& host) noexcept : host_(host) {}

    // Checks the policy, then starts connecting; the outcome arrives as
    // events. E_ACCESSDENIED when the policy refuses the endpoint.
    HRESULT Connect(const Endpoint& endpoint, const std::wstring& password);
    // Ends the session without events (the caller raises them).
    void Stop() noexcept;
    bool active() const noexcept { return session_ != nullptr; }
    rfb::RfbSession* session() noexcept { return session_.get(); }

    // The session's notices, taken on the STA thread (the host's window
    // message `kNoticeMessage`).
    void TakeNotices() noexcept;
    static constexpr UINT kNoticeMessage = WM_APP + 10;

    HRESULT SetScreenSize(LONG width, LONG height);
    void SendCAD() noexcept;
    // Draws the guest screen scaled to `area`; false if there is none yet.
    bool Paint(HDC dc, const RECT& area) noexcept;

private:
    void Ended(const std::string& reason);

    ConsoleHost& host_;
    std::unique_ptr<rfb::RfbSession> session_;
};

std::wstring Widen(const std::string& text);

}  // namespace zova::console

#include "zova/rfbLink.h"

#include "zova/consoleHost.h"
#include "zova/keyMap.h"

namespace zova::console {
namespace {

std::string Narrow(const std::wstring& s) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    if (n) ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::wstring Widen(const std::string& text) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    if (n) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

HRESULT RfbLink::Connect(const Endpoint& endpoint, const std::wstring& password) {
    session_.reset();
    bool configured = false;
    const std::vector<std::wstring> patterns = ReadAllowedEndpoints(kPolicyKey, configured);
    if (!EndpointAllowed(patterns, configured, endpoint)) {
        const std::wstring where = endpoint.host + L":" + std::to_wstring(endpoint.port);
        const std::wstring why = configured
            ? L"The console's endpoint policy (AllowedEndpoints) does not allow " + where
            : L"The console's endpoint policy (AllowedEndpoints) is not set, which allows loopback addresses only, not " + where;
        host_.RaiseConnectionState(kDisconnected, false, why);
        host_.RaiseMessage(kMessageError, why);
        return E_ACCESSDENIED;
    }
    session_.reset(new rfb::RfbSession(Narrow(endpoint.host), endpoint.port, Narrow(password), host_.hwnd(),
                                       kNoticeMessage));
    session_->Start();
    return S_OK;
}

void RfbLink::Stop() noexcept {
    session_.reset();
    host_.ShowFullScreen(false);
}

void RfbLink::Ended(const std::string& reason) {
    Stop();
    VmSession& s = host_.session();
    const std::wstring why = Widen(reason);
    host_.RaiseConnectionState(kDisconnected, false, why);
    host_.RaiseMessage(kMessageError, why);
    s.connectionState = kDisconnected;
}

void RfbLink::TakeNotices() noexcept {
    if (!session_) return;
    try {
        VmSession& s = host_.session();
        for (const rfb::Notice& n : session_->TakeNotices()) {
            switch (n.kind) {
                case rfb::Notice::kConnected:
                    s.connectionState = kConnected;
                    s.screenWidth = n.width;
                    s.screenHeight = n.height;
                    host_.RaiseConnectionState(kConnected, true, L"");
                    host_.RaiseMessage(kMessageInfo, L"Connected to " + s.host);
                    host_.RaiseScreenSize();
                    host_.ShowFullScreen(s.fullscreen);
                    break;
                case rfb::Notice::kResized:
                    s.screenWidth = n.width;
                    s.screenHeight = n.height;
                    host_.RaiseScreenSize();
                    break;
                case rfb::Notice::kRefusedSize:
                    host_.RaiseMessage(kMessageError, Widen(n.text));
                    break;
                case rfb::Notice::kEnded:
                    Ended(n.text);
                    host_.Repaint();
                    return;
            }
        }
    } catch (...) {
        // Out of memory: the notices are lost; the next ones may get through.
    }
    host_.Repaint();
}

HRESULT RfbLink::SetScreenSize(LONG width, LONG height) {
    if (!session_ || !session_->connected()) return E_UNEXPECTED;
    if (!session_->canResize()) {
        host_.RaiseMessage(kMessageError, L"The server does not let clients change the screen size");
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }
    if (width > 0xFFFF || height > 0xFFFF) return E_INVALIDARG;
    session_->RequestDesktopSize(width, height);
    return S_OK;
}

void RfbLink::SendCAD() noexcept {
    if (!session_) return;
    for (uint32_t k : {kKeysymControlL, kKeysymAltL, kKeysymDelete}) session_->SendKey(k, true);
    for (uint32_t k : {kKeysymDelete, kKeysymAltL, kKeysymControlL}) session_->SendKey(k, false);
}

bool RfbLink::Paint(HDC dc, const RECT& area) noexcept {
    if (!session_) return false;
    bool painted = false;
    try {
        session_->WithScreen([&](const rfb::FrameBuffer& screen) {
            if (screen.width() == 0) return;
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(info.bmiHeader);
            info.bmiHeader.biWidth = screen.width();
            info.bmiHeader.biHeight = -screen.height();  // top-down, as the buffer is
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            ::SetStretchBltMode(dc, HALFTONE);
            ::StretchDIBits(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, 0, 0,
                            screen.width(), screen.height(), screen.pixels().data(), &info, DIB_RGB_COLORS, SRCCOPY);
            painted = true;
        });
    } catch (...) {
    }
    return painted;
}

}  // namespace zova::console

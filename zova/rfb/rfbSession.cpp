#include "zova/rfb/rfbSession.h"


namespace zova::rfb {

RfbSession::RfbSession(std::string host, uint16_t port, std::string password, HWND window, UINT message)
    : host_(std::move(host)), password_(std::move(password)), port_(port), window_(window), message_(message),
      socket_(new SocketStream), client_(*socket_, *socket_) {}

RfbSession::~RfbSession() {
    socket_->Close();
    if (reader_.joinable()) reader_.join();
}

void RfbSession::Start() {
    StartWinsock();
    reader_ = std::thread([this] { Run(); });
}

void RfbSession::Push(Notice notice) {
    std::lock_guard<std::mutex> hold(lock_);
    notices_.push_back(std::move(notice));
    if (!posted_) posted_ = ::PostMessageW(window_, message_, 0, 0) != FALSE;
}

std::vector<Notice> RfbSession::TakeNotices() {
    std::lock_guard<std::mutex> hold(lock_);
    posted_ = false;
    return std::move(notices_);
}

void RfbSession::WithScreen(const std::function<void(const FrameBuffer&)>& paint) {
    std::lock_guard<std::mutex> hold(lock_);
    paint(front_);
}

void RfbSession::Run() noexcept {
    try {
        socket_->Connect(host_, port_);
        client_.Handshake(password_);
        const FrameBuffer& screen = client_.screen();
        {
            std::lock_guard<std::mutex> hold(lock_);
            front_.Resize(screen.width(), screen.height());
        }
        connected_ = true;
        Push({Notice::kConnected, screen.width(), screen.height(), client_.desktopName()});
        for (;;) {
            const Change change = client_.ReadMessage();
            if (!change.refusal.empty()) Push({Notice::kRefusedSize, 0, 0, change.refusal});
            if (change.resized) {
                {
                    std::lock_guard<std::mutex> hold(lock_);
                    front_.Resize(screen.width(), screen.height());
                }
                Push({Notice::kResized, screen.width(), screen.height(), {}});
            }
            if (!change.updated.empty()) {
                std::lock_guard<std::mutex> hold(lock_);
                front_.CopyFrom(screen, change.updated);
                // A repaint, coalesced with any not yet taken.
                if (!posted_) posted_ = ::PostMessageW(window_, message_, 0, 0) != FALSE;
            }
            if (change.updateDone) client_.RequestUpdate(true);
        }
    } catch (const SessionError& e) {
        connected_ = false;
        Push({Notice::kEnded, 0, 0, e.what()});
    } catch (const std::exception&) {
        connected_ = false;
        Push({Notice::kEnded, 0, 0, "The console ran out of memory"});
    }
}

template <class F>
void RfbSession::Send(F f) noexcept {
    if (!connected_) return;
    try {
        f();
    } catch (...) {
        // The reader sees the same loss and reports it.
    }
}

void RfbSession::SendKey(uint32_t keysym, bool down) noexcept { Send([&] { client_.SendKey(keysym, down); }); }
void RfbSession::SendPointer(int x, int y, uint8_t buttons) noexcept {
    Send([&] { client_.SendPointer(x, y, buttons); });
}
void RfbSession::SendCutText(const std::string& latin1) noexcept { Send([&] { client_.SendCutText(latin1); }); }
void RfbSession::RequestDesktopSize(int width, int height) noexcept {
    Send([&] { client_.RequestDesktopSize(width, height); });
}

}  // namespace zova::rfb

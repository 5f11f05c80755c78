#include "zova/rfb/rfbSession.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "comfw/scopeExit.h"

namespace zova::rfb {

bool StartWinsock() noexcept {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// The connection's socket as the client's byte source and sink. Reads are
// buffered; writes from any thread go out whole.
class RfbSession::Socket final : public ByteSource, public ByteSink {
public:
    ~Socket() override { Close(); }

    void Connect(const std::string& host, uint16_t port) {
        addrinfo hints{}, *found = nullptr;
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
            throw SessionError(SessionError::kLost, "The host name " + host + " could not be resolved");
        }
        const auto release = comfw::scope_exit([found] { ::freeaddrinfo(found); });
        int error = 0;
        for (addrinfo* a = found; a; a = a->ai_next) {
            SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (s == INVALID_SOCKET) continue;
            {
                std::lock_guard<std::mutex> hold(lock_);
                if (closed_) {
                    ::closesocket(s);
                    break;
                }
                socket_ = s;
            }
            if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
                const BOOL noDelay = TRUE;  // key and pointer events go out at once
                ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
                return;
            }
            error = ::WSAGetLastError();
            std::lock_guard<std::mutex> hold(lock_);
            ::closesocket(s);
            socket_ = INVALID_SOCKET;
        }
        throw SessionError(SessionError::kRefused, "The connection to " + host + ":" + std::to_string(port) +
                                                       " was refused or could not be made (error " +
                                                       std::to_string(error) + ")");
    }

    // Ends a blocked connect, recv or send from another thread.
    void Close() noexcept {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
        if (socket_ != INVALID_SOCKET) {
            ::shutdown(socket_, SD_BOTH);
            ::closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
    }

    void Read(void* data, size_t n) override {
        auto* out = static_cast<uint8_t*>(data);
        while (n) {
            if (at_ == end_) Fill();
            const size_t part = std::min(n, end_ - at_);
            std::memcpy(out, buffer_ + at_, part);
            at_ += part;
            out += part;
            n -= part;
        }
    }

    void Write(const void* data, size_t n) override {
        std::lock_guard<std::mutex> hold(writeLock_);
        const char* p = static_cast<const char*>(data);
        while (n) {
            const int sent = ::send(socket_, p, static_cast<int>(std::min<size_t>(n, 1 << 20)), 0);
            if (sent <= 0) throw SessionError(SessionError::kLost, "The connection to the server was lost");
            p += sent;
            n -= static_cast<size_t>(sent);
        }
    }

private:
    void Fill() {
        const int got = ::recv(socket_, reinterpret_cast<char*>(buffer_), sizeof(buffer_), 0);
        if (got == 0) throw SessionError(SessionError::kLost, "The server closed the connection");
        if (got < 0) {
            throw SessionError(SessionError::kLost,
                               "The connection to the server was lost (error " + std::to_string(::WSAGetLastError()) + ")");
        }
        at_ = 0;
        end_ = static_cast<size_t>(got);
    }

    std::mutex lock_, writeLock_;
    SOCKET socket_ = INVALID_SOCKET;
    bool closed_ = false;
    uint8_t buffer_[65536];
    size_t at_ = 0, end_ = 0;
};

RfbSession::RfbSession(std::string host, uint16_t port, std::string password, HWND window, UINT message)
    : host_(std::move(host)), password_(std::move(password)), port_(port), window_(window), message_(message),
      socket_(new Socket), client_(*socket_, *socket_) {}

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

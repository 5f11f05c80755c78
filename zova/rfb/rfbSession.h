// One RFB connection of the console: a socket and a reader thread that runs
// the protocol client and keeps a front copy of the screen for painting.
//
// The reader thread never touches a window or a COM object: it records
// notices under a lock and posts `message` to `window`, and the console's STA
// thread takes them with TakeNotices, so a slow or hostile server never holds
// up a call from the control. Whole framebuffer updates reach the front copy
// at once, so a paint never shows half of one.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zova/rfb/frameBuffer.h"
#include "zova/rfb/rfbClient.h"
#include "zova/rfb/socketStream.h"

namespace zova::rfb {

struct Notice {
    enum Kind { kConnected, kResized, kRefusedSize, kEnded } kind;
    int width = 0, height = 0;
    std::string text;  // kEnded, kRefusedSize: why
};

class RfbSession {
public:
    RfbSession(std::string host, uint16_t port, std::string password, HWND window, UINT message);
    ~RfbSession();  // stops the reader and waits for it

    // Starts the reader thread, which connects and shakes hands.
    void Start();

    std::vector<Notice> TakeNotices();
    // Calls `paint` with the front copy under its lock.
    void WithScreen(const std::function<void(const FrameBuffer&)>& paint);

    bool connected() const noexcept { return connected_; }
    bool canResize() const noexcept { return client_.canResize(); }

    // Client messages; quietly nothing before the handshake is done or after
    // the connection is lost (the reader reports the loss).
    void SendKey(uint32_t keysym, bool down) noexcept;
    void SendPointer(int x, int y, uint8_t buttons) noexcept;
    void SendCutText(const std::string& latin1) noexcept;
    void RequestDesktopSize(int width, int height) noexcept;

private:
    void Run() noexcept;
    void Push(Notice notice);
    template <class F>
    void Send(F f) noexcept;

    const std::string host_, password_;
    const uint16_t port_;
    const HWND window_;
    const UINT message_;
    std::unique_ptr<SocketStream> socket_;
    RfbClient client_;
    std::thread reader_;
    std::atomic<bool> connected_{false};

    std::mutex lock_;  // guards what follows
    FrameBuffer front_;
    std::vector<Notice> notices_;
    bool posted_ = false;
};

}  // namespace zova::rfb

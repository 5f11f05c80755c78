// The client side of an RFB connection (RFC 6143) over any byte stream: the
// handshake (versions 3.3, 3.7 and 3.8; security types None and VNC
// authentication), the server messages applied to a frame buffer
// (encodings Raw, CopyRect and ZRLE, pseudo-encodings DesktopSize and
// ExtendedDesktopSize) and the client messages.
//
// Reading happens on one thread; the client messages may be sent from
// another, as long as the sink serialises whole writes. Anything a server
// sends that is out of bounds ends the session with SessionError.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "zova/rfb/frameBuffer.h"
#include "zova/rfb/wire.h"
#include "zova/rfb/zrle.h"

namespace zova::rfb {

enum Encoding : int32_t {
    kEncodingRaw = 0,
    kEncodingCopyRect = 1,
    kEncodingZrle = 16,
    kEncodingDesktopSize = -223,
    kEncodingExtendedDesktopSize = -308,
};

// What one server message changed.
struct Change {
    Rect updated;             // pixels changed here
    bool resized = false;     // the screen has a new size
    bool updateDone = false;  // a whole framebuffer update was applied
    std::string refusal;      // a desktop size request was refused: why
};

// Limits on what a server may make the client hold at once.
constexpr uint32_t kMaxCompressedRect = 64u << 20;
constexpr size_t kMaxTextKept = 64u << 10;

class RfbClient {
public:
    RfbClient(ByteSource& in, ByteSink& out) noexcept : in_(in), out_(out) {}

    // Version, security and initialisation; then asks for 32-bit true colour,
    // the encodings above and a full update. Throws SessionError.
    void Handshake(const std::string& password);

    // Reads and applies one server message. Throws SessionError.
    Change ReadMessage();

    // The screen as the server messages built it (reader thread only).
    const FrameBuffer& screen() const noexcept { return screen_; }
    const std::string& desktopName() const noexcept { return name_; }
    int minorVersion() const noexcept { return minor_; }
    // The server has sent ExtendedDesktopSize, so SetDesktopSize works.
    bool canResize() const noexcept { return canResize_; }

    // Client messages.
    void RequestUpdate(bool incremental);
    void SendKey(uint32_t keysym, bool down);
    void SendPointer(int x, int y, uint8_t buttons);
    void SendCutText(const std::string& latin1);
    void RequestDesktopSize(int width, int height);

private:
    void Security(const std::string& password);
    void CheckSecurityResult();
    void ApplyRect(Change& change);

    ByteSource& in_;
    ByteSink& out_;
    FrameBuffer screen_;
    ZrleDecoder zrle_;
    std::string name_;
    int minor_ = 8;
    // Written by the reader, read by whoever asks for a new size.
    std::atomic<bool> canResize_{false};
    std::atomic<uint32_t> screenId_{0};
};

}  // namespace zova::rfb

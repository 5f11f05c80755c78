#include "zova/rfb/rfbClient.h"

#include <cstring>

#include "zova/rfb/des.h"

namespace zova::rfb {
namespace {

enum SecurityType : uint8_t { kSecurityInvalid = 0, kSecurityNone = 1, kSecurityVnc = 2 };
enum ServerMessage : uint8_t { kFramebufferUpdate = 0, kSetColourMap = 1, kBell = 2, kServerCutText = 3 };
enum ClientMessage : uint8_t {
    kSetPixelFormat = 0,
    kSetEncodings = 2,
    kUpdateRequest = 3,
    kKeyEvent = 4,
    kPointerEvent = 5,
    kClientCutText = 6,
    kSetDesktopSize = 251,
};

[[noreturn]] void Fail(SessionError::Kind kind, const std::string& text) { throw SessionError(kind, text); }
[[noreturn]] void Malformed(const std::string& what) {
    Fail(SessionError::kMalformed, "The server sent a malformed message: " + what);
}

std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return text;
}

}  // namespace

void RfbClient::Handshake(const std::string& password) {
    char version[13] = {};
    in_.Read(version, 12);
    int major = 0, minor = 0;
    if (std::strncmp(version, "RFB ", 4) != 0 || version[11] != '\n' ||
        std::sscanf(version + 4, "%3d.%3d", &major, &minor) != 2 || major != 3) {
        Fail(SessionError::kUnsupported, "The server does not speak a known RFB version");
    }
    // 3.8 and any later minor speak 3.8; 3.7 as itself; 3.3 to 3.6 as 3.3.
    minor_ = minor >= 8 ? 8 : minor == 7 ? 7 : 3;
    const std::string answer = "RFB 003.00" + std::to_string(minor_) + "\n";
    out_.Write(answer.data(), answer.size());
    Security(password);

    const uint8_t shared = 1;  // other clients stay connected
    out_.Write(&shared, 1);
    const int width = in_.U16(), height = in_.U16();
    uint8_t format[16];
    in_.Read(format, sizeof(format));
    name_ = Printable(in_.Text(kMaxTextKept));
    if (!screen_.Resize(width, height)) {
        Malformed("a screen of " + std::to_string(width) + "x" + std::to_string(height) + " pixels");
    }

    Message pixelFormat;
    pixelFormat.U8(kSetPixelFormat).U8(0).U16(0);
    // 32 bits a pixel, depth 24, little-endian, true colour, 8 bits each of
    // red, green and blue at 16, 8 and 0: pixels land as 0x00RRGGBB.
    pixelFormat.U8(32).U8(24).U8(0).U8(1).U16(255).U16(255).U16(255).U8(16).U8(8).U8(0).U8(0).U16(0);
    pixelFormat.SendTo(out_);
    const int32_t encodings[] = {kEncodingZrle, kEncodingCopyRect, kEncodingRaw, kEncodingExtendedDesktopSize,
                                 kEncodingDesktopSize};
    Message setEncodings;
    setEncodings.U8(kSetEncodings).U8(0).U16(sizeof(encodings) / sizeof(encodings[0]));
    for (int32_t e : encodings) setEncodings.U32(static_cast<uint32_t>(e));
    setEncodings.SendTo(out_);
    RequestUpdate(false);
}

void RfbClient::Security(const std::string& password) {
    uint8_t chosen = kSecurityInvalid;
    if (minor_ == 3) {
        // The server decides.
        const uint32_t type = in_.U32();
        if (type == kSecurityInvalid) Fail(SessionError::kRefused, "The server refused the connection: " + Printable(in_.Text(kMaxTextKept)));
        if (type != kSecurityNone && type != kSecurityVnc) Fail(SessionError::kUnsupported, "The server asks for a security type this console does not support (" + std::to_string(type) + ")");
        chosen = static_cast<uint8_t>(type);
    } else {
        const uint8_t count = in_.U8();
        if (count == 0) Fail(SessionError::kRefused, "The server refused the connection: " + Printable(in_.Text(kMaxTextKept)));
        uint8_t types[255];
        in_.Read(types, count);
        bool none = false, vnc = false;
        for (int i = 0; i < count; ++i) {
            none = none || types[i] == kSecurityNone;
            vnc = vnc || types[i] == kSecurityVnc;
        }
        // A password given means the page expects authentication.
        chosen = vnc && (!password.empty() || !none) ? kSecurityVnc : none ? kSecurityNone : kSecurityInvalid;
        if (chosen == kSecurityInvalid) {
            Fail(SessionError::kUnsupported, "The server offers no security type this console supports (None, VNC authentication)");
        }
        out_.Write(&chosen, 1);
    }
    if (chosen == kSecurityVnc) {
        uint8_t challenge[16], response[16];
        in_.Read(challenge, sizeof(challenge));
        VncAuthResponse(password, challenge, response);
        out_.Write(response, sizeof(response));
        CheckSecurityResult();
    } else if (minor_ == 8) {
        CheckSecurityResult();  // 3.8 confirms None as well
    }
}

void RfbClient::CheckSecurityResult() {
    const uint32_t result = in_.U32();
    if (result == 0) return;
    std::string reason = minor_ == 8 ? Printable(in_.Text(kMaxTextKept)) : std::string();
    Fail(SessionError::kAuthentication,
         "Authentication failed" + (reason.empty() ? std::string(": wrong password?") : ": " + reason));
}

Change RfbClient::ReadMessage() {
    Change change;
    const uint8_t type = in_.U8();
    switch (type) {
        case kFramebufferUpdate: {
            in_.U8();
            const int rects = in_.U16();
            for (int i = 0; i < rects; ++i) ApplyRect(change);
            change.updateDone = true;
            return change;
        }
        case kSetColourMap: {
            in_.U8();
            in_.U16();
            in_.Skip(static_cast<size_t>(in_.U16()) * 6);  // not used in true colour
            return change;
        }
        case kBell:
            return change;
        case kServerCutText: {
            uint8_t pad[3];
            in_.Read(pad, 3);
            in_.Text(0);  // the console does not take text from the guest
            return change;
        }
        default:
            Malformed("unknown message type " + std::to_string(type));
    }
}

void RfbClient::ApplyRect(Change& change) {
    Rect r;
    r.x = in_.U16();
    r.y = in_.U16();
    r.width = in_.U16();
    r.height = in_.U16();
    const int32_t encoding = static_cast<int32_t>(in_.U32());
    const auto placed = [&] {
        if (!screen_.Contains(r)) {
            Malformed("a rectangle " + std::to_string(r.width) + "x" + std::to_string(r.height) + " at " +
                      std::to_string(r.x) + "," + std::to_string(r.y) + " outside the " +
                      std::to_string(screen_.width()) + "x" + std::to_string(screen_.height()) + " screen");
        }
    };
    switch (encoding) {
        case kEncodingRaw: {
            placed();
            std::vector<uint8_t> row(static_cast<size_t>(r.width) * 4);
            for (int y = 0; y < r.height; ++y) {
                if (!row.empty()) in_.Read(row.data(), row.size());
                uint32_t* out = screen_.Row(r.y + y) + r.x;
                for (int x = 0; x < r.width; ++x) {
                    const uint8_t* p = &row[static_cast<size_t>(x) * 4];
                    out[x] = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
                }
            }
            break;
        }
        case kEncodingCopyRect: {
            placed();
            const Rect from{in_.U16(), in_.U16(), r.width, r.height};
            if (!screen_.Contains(from)) Malformed("a copy from outside the screen");
            screen_.Copy(r, from.x, from.y);
            break;
        }
        case kEncodingZrle: {
            placed();
            const uint32_t length = in_.U32();
            if (length > kMaxCompressedRect) Malformed("a compressed rectangle of " + std::to_string(length) + " bytes");
            std::vector<uint8_t> data(length);
            if (length) in_.Read(data.data(), length);
            if (!r.empty()) zrle_.Decode(data, r, screen_);
            break;
        }
        case kEncodingDesktopSize:
        case kEncodingExtendedDesktopSize: {
            // x: who asked (1: this client), y: the outcome (0: done).
            const int reason = r.x, status = r.y;
            if (encoding == kEncodingExtendedDesktopSize) {
                const uint8_t screens = in_.U8();
                uint8_t pad[3];
                in_.Read(pad, 3);
                for (int s = 0; s < screens; ++s) {
                    const uint32_t id = in_.U32();
                    in_.Skip(12);
                    if (s == 0) screenId_ = id;
                }
                canResize_ = true;
                if (reason == 1 && status != 0) {
                    static const char* const kWhy[] = {"", "resizing is prohibited", "out of resources",
                                                       "invalid screen layout"};
                    change.refusal = std::string("The server refused the new screen size: ") +
                                     (status < 4 ? kWhy[status] : "unknown reason");
                    return;
                }
            }
            if (r.width == screen_.width() && r.height == screen_.height()) return;
            if (!screen_.Resize(r.width, r.height)) {
                Malformed("a screen of " + std::to_string(r.width) + "x" + std::to_string(r.height) + " pixels");
            }
            change.resized = true;
            change.updated = Rect{0, 0, r.width, r.height};
            return;
        }
        default:
            Malformed("unknown encoding " + std::to_string(encoding));
    }
    change.updated = Union(change.updated, r);
}

void RfbClient::RequestUpdate(bool incremental) {
    Message m;
    m.U8(kUpdateRequest).U8(incremental ? 1 : 0).U16(0).U16(0);
    m.U16(static_cast<uint16_t>(screen_.width())).U16(static_cast<uint16_t>(screen_.height())).SendTo(out_);
}

void RfbClient::SendKey(uint32_t keysym, bool down) {
    Message m;
    m.U8(kKeyEvent).U8(down ? 1 : 0).U16(0).U32(keysym).SendTo(out_);
}

void RfbClient::SendPointer(int x, int y, uint8_t buttons) {
    Message m;
    m.U8(kPointerEvent).U8(buttons).U16(static_cast<uint16_t>(x < 0 ? 0 : x)).U16(static_cast<uint16_t>(y < 0 ? 0 : y));
    m.SendTo(out_);
}

void RfbClient::SendCutText(const std::string& latin1) {
    Message m;
    m.U8(kClientCutText).U8(0).U16(0).U32(static_cast<uint32_t>(latin1.size())).Bytes(latin1.data(), latin1.size());
    m.SendTo(out_);
}

void RfbClient::RequestDesktopSize(int width, int height) {
    Message m;
    m.U8(kSetDesktopSize).U8(0).U16(static_cast<uint16_t>(width)).U16(static_cast<uint16_t>(height)).U8(1).U8(0);
    m.U32(screenId_).U16(0).U16(0).U16(static_cast<uint16_t>(width)).U16(static_cast<uint16_t>(height)).U32(0);
    m.SendTo(out_);
}

}  // namespace zova::rfb

// RFB server bytes for tests: a builder, and a memory stream that plays them to the client and keeps what it writes.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "zova/rfb/wire.h"

struct z_stream_s;

namespace zova::test {

struct Bytes {
    std::vector<uint8_t> v;
    Bytes& U8(uint8_t b) { v.push_back(b); return *this; }
    Bytes& U16(uint16_t x) { return U8(static_cast<uint8_t>(x >> 8)).U8(static_cast<uint8_t>(x)); }
    Bytes& U32(uint32_t x) { return U16(static_cast<uint16_t>(x >> 16)).U16(static_cast<uint16_t>(x)); }
    Bytes& Raw(const std::string& s) { v.insert(v.end(), s.begin(), s.end()); return *this; }
    Bytes& Add(const std::vector<uint8_t>& more) { v.insert(v.end(), more.begin(), more.end()); return *this; }
    Bytes& Text(const std::string& s) { return U32(static_cast<uint32_t>(s.size())).Raw(s); }
    // A 32-bit pixel as the client asked for them: blue, green, red, unused.
    Bytes& Pixel(uint32_t rgb) { return U8(rgb & 0xFF).U8((rgb >> 8) & 0xFF).U8((rgb >> 16) & 0xFF).U8(0); }
    // A ZRLE compressed pixel: blue, green, red.
    Bytes& CPixel(uint32_t rgb) { return U8(rgb & 0xFF).U8((rgb >> 8) & 0xFF).U8((rgb >> 16) & 0xFF); }
    Bytes& Rect(int x, int y, int w, int h, int32_t encoding) {
        return U16(x).U16(y).U16(w).U16(h).U32(static_cast<uint32_t>(encoding));
    }
    // Version 3.8, security None, ServerInit of width x height named "vm-42".
    static Bytes Hello38(int width, int height) {
        return Bytes().Raw("RFB 003.008\n").U8(1).U8(1).U32(0).Init(width, height);
    }
    Bytes& Init(int width, int height) { return U16(width).U16(height).Raw(std::string(16, '\0')).Text("vm-42"); }
};

inline std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> v;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) v.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return v;
}

// Plays `in` to the client, then reports the connection closed.
struct MemoryStream final : rfb::ByteSource, rfb::ByteSink {
    std::vector<uint8_t> in, out;
    size_t at = 0;
    explicit MemoryStream(std::vector<uint8_t> server) : in(std::move(server)) {}
    void Read(void* p, size_t n) override {
        if (in.size() - at < n) throw rfb::SessionError(rfb::SessionError::kLost, "The server closed the connection");
        std::memcpy(p, in.data() + at, n);
        at += n;
    }
    void Write(const void* p, size_t n) override {
        out.insert(out.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    }
};

// ZRLE data as a server compresses it: one zlib stream through a connection's rectangles, flushed at each one's end.
class Deflater {
public:
    Deflater();
    ~Deflater();
    std::vector<uint8_t> Next(const std::vector<uint8_t>& tiles);

private:
    std::unique_ptr<z_stream_s> z_;
};

}  // namespace zova::test

#include "zova/rfb/zrle.h"

#include <zlib.h>

#include <algorithm>

#include "zova/rfb/wire.h"

namespace zova::rfb {
namespace {

constexpr int kTile = 64;

[[noreturn]] void Malformed(const char* what) {
    throw SessionError(SessionError::kMalformed, std::string("The server sent a malformed ZRLE rectangle: ") + what);
}

}  // namespace

// Inflates on demand: tiles are read a few bytes at a time.
struct ZrleDecoder::Stream {
    z_stream z{};
    bool ready = false;
    uint8_t buffer[16384];
    size_t at = 0, end = 0;

    ~Stream() {
        if (ready) inflateEnd(&z);
    }
    uint8_t Byte() {
        if (at == end) Refill();
        return buffer[at++];
    }
    void Refill() {
        z.next_out = buffer;
        z.avail_out = sizeof(buffer);
        const int rc = inflate(&z, Z_SYNC_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) Malformed("bad compressed data");
        at = 0;
        end = sizeof(buffer) - z.avail_out;
        if (end == 0) Malformed("it ends before its last tile");
    }
    uint32_t Pixel() {
        const uint32_t b = Byte(), g = Byte(), r = Byte();
        return r << 16 | g << 8 | b;
    }
    // A run length: 255s followed by a smaller byte, plus one.
    int64_t RunLength() {
        int64_t n = 1;
        uint8_t b;
        do {
            b = Byte();
            n += b;
            if (n > kTile * kTile) Malformed("a run longer than its tile");
        } while (b == 255);
        return n;
    }
};

ZrleDecoder::ZrleDecoder() : stream_(new Stream) {
    if (inflateInit(&stream_->z) != Z_OK) throw std::bad_alloc();
    stream_->ready = true;
}

ZrleDecoder::~ZrleDecoder() = default;

void ZrleDecoder::Decode(const std::vector<uint8_t>& compressed, const Rect& r, FrameBuffer& screen) {
    Stream& s = *stream_;
    s.z.next_in = const_cast<Bytef*>(compressed.data());
    s.z.avail_in = static_cast<uInt>(compressed.size());
    s.at = s.end = 0;
    uint32_t palette[128];
    for (int ty = r.y; ty < r.y + r.height; ty += kTile) {
        for (int tx = r.x; tx < r.x + r.width; tx += kTile) {
            const int w = std::min(kTile, r.x + r.width - tx), h = std::min(kTile, r.y + r.height - ty);
            const int count = w * h;
            const uint8_t sub = s.Byte();
            auto put = [&](int i, uint32_t p) { screen.Row(ty + i / w)[tx + i % w] = p; };
            if (sub == 0) {
                for (int i = 0; i < count; ++i) put(i, s.Pixel());
            } else if (sub == 1) {
                screen.Fill({tx, ty, w, h}, s.Pixel());
            } else if (sub <= 16) {
                for (int i = 0; i < sub; ++i) palette[i] = s.Pixel();
                const int bits = sub == 2 ? 1 : sub <= 4 ? 2 : 4;
                for (int y = 0; y < h; ++y) {
                    int have = 0;
                    uint8_t byte = 0;
                    for (int x = 0; x < w; ++x) {
                        if (have == 0) {
                            byte = s.Byte();
                            have = 8;
                        }
                        have -= bits;
                        const int index = (byte >> have) & ((1 << bits) - 1);
                        if (index >= sub) Malformed("a palette index beyond the palette");
                        screen.Row(ty + y)[tx + x] = palette[index];
                    }
                }
            } else if (sub == 128) {
                for (int i = 0; i < count;) {
                    const uint32_t p = s.Pixel();
                    const int64_t n = s.RunLength();
                    if (i + n > count) Malformed("a run longer than its tile");
                    for (int64_t k = 0; k < n; ++k) put(i++, p);
                }
            } else if (sub >= 130) {
                const int size = sub - 128;
                for (int i = 0; i < size; ++i) palette[i] = s.Pixel();
                for (int i = 0; i < count;) {
                    const uint8_t index = s.Byte();
                    if ((index & 127) >= size) Malformed("a palette index beyond the palette");
                    const int64_t n = index & 128 ? s.RunLength() : 1;
                    if (i + n > count) Malformed("a run longer than its tile");
                    for (int64_t k = 0; k < n; ++k) put(i++, palette[index & 127]);
                }
            } else {
                Malformed("an unknown tile type");
            }
        }
    }
    // Whatever the server compressed beyond the last tile is not used, but
    // must be consumed to keep the stream in step.
    while (s.z.avail_in) {
        s.z.next_out = s.buffer;
        s.z.avail_out = sizeof(s.buffer);
        const int rc = inflate(&s.z, Z_SYNC_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) Malformed("bad compressed data");
        if (rc == Z_STREAM_END) break;
    }
}

}  // namespace zova::rfb

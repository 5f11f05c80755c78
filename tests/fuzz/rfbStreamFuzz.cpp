// The RFB client on damaged server streams: a stream with every kind of
// message, with random bytes changed and now and then cut short. Whatever the
// bytes, reading ends in a SessionError, never a crash or another exception.
#include "tests/fuzz/fuzz.h"
#include "tests/rfbStreams.h"
#include "zova/rfb/rfbClient.h"

namespace zova::fuzz {
namespace {

using test::Bytes;

Bytes Update(int rects) { return Bytes().U8(0).U8(0).U16(rects); }

// Raw, copy and the desktop size; one ZRLE tile of palette runs (3072
// pixels), then packed palette and plain runs; a colour map, a bell and cut text.
std::vector<uint8_t> Undamaged() {
    constexpr int32_t kRaw = 0, kCopy = 1, kZrle = 16, kExtSize = -308;
    test::Deflater d;
    Bytes b = Bytes::Hello38(64, 48);
    b.Add(Update(3).Rect(0, 0, 8, 8, kRaw).Add(std::vector<uint8_t>(8 * 8 * 4, 0x40)).Rect(8, 8, 8, 8, kCopy)
              .U16(0).U16(0).Rect(0, 0, 64, 48, kExtSize).U8(1).U8(0).U16(0).U32(1).U16(0).U16(0).U16(64).U16(48)
              .U32(0).v);
    const auto zrle = [&](int x, int y, int w, int h, const Bytes& tiles) {
        const std::vector<uint8_t> z = d.Next(tiles.v);
        return Bytes().Rect(x, y, w, h, kZrle).U32(static_cast<uint32_t>(z.size())).Add(z).v;
    };
    b.Add(Update(3).Add(zrle(0, 0, 64, 48, Bytes().U8(130).CPixel(0xFF0000).CPixel(0xFF00).U8(0x81)
                                                .Raw(std::string(12, '\xFF')).U8(11)))
              .Add(zrle(0, 0, 16, 16, Bytes().U8(2).CPixel(0xFF).CPixel(0xFFFFFF).Raw(std::string(32, '\x5A'))))
              .Add(zrle(8, 8, 8, 8, Bytes().U8(128).CPixel(0xFF0000).U8(63))).v);
    return b.U8(1).U8(0).U16(0).U16(2).Raw(std::string(12, 'x')).U8(2).U8(3).U16(0).U8(0).Text("clip").v;
}

// Reads the whole stream: the kind of the SessionError it ends in.
int Play(test::MemoryStream& server) {
    rfb::RfbClient client(server, server);
    try {
        client.Handshake("");
        for (int i = 0; i < 1000; ++i) client.ReadMessage();
    } catch (const rfb::SessionError& e) {
        return e.kind();
    } catch (const std::exception& e) {
        throw Failure{std::string("an exception other than SessionError: ") + e.what()};
    }
    throw Failure{"1000 messages read from a stream of fewer"};
}

}  // namespace

void FuzzRfbStream(Rng& rng) {
    static const std::vector<uint8_t> undamaged = Undamaged();
    // Undamaged, the stream is read to its end, so the damage lands in what the client reads.
    static const bool whole = [] {
        test::MemoryStream server(undamaged);
        return Play(server) == rfb::SessionError::kLost && server.at == undamaged.size();
    }();
    FUZZ_CHECK(whole);
    std::vector<uint8_t> stream = undamaged;
    for (uint32_t hits = 1 + rng.Below(4); hits; --hits)
        stream[12 + rng.Below(static_cast<uint32_t>(stream.size() - 12))] = static_cast<uint8_t>(rng.Next());
    if (rng.Percent(25)) stream.resize(12 + rng.Below(static_cast<uint32_t>(stream.size() - 12)));
    test::MemoryStream server(stream);
    Play(server);
}

}  // namespace zova::fuzz

// Frames per second and update-to-paint latency of the console's RFB client for a stream of full-screen updates
// (1024x768, Raw and ZRLE) from a server on the loopback, in lock step: the server sends a frame, the client reads
// and decodes it (RfbClient), copies it to a front buffer and paints it with SetDIBitsToDevice, then asks for the
// next; the server times each frame from its first byte to that request. Beside them, the platform's floor for the
// same work: the same bytes through a loopback socket alone, and the bare blit of a frame.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/rfbStreams.h"
#include "tests/rfbTestServer.h"
#include "zova/rfb/rfbClient.h"
#include "zova/rfb/socketStream.h"

using Clock = std::chrono::steady_clock;
using zova::test::Bytes;

namespace {

constexpr int kWidth = 1024, kHeight = 768, kFrames = 40;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

SOCKET Dial(uint16_t port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    return s;
}

uint32_t Pixel(int x, int y, int frame) { return static_cast<uint32_t>(((x + frame) & 255) << 16 | ((y * 3) & 255) << 8 | ((x ^ y) & 255)); }

// The frames as a server sends them.
std::vector<std::vector<uint8_t>> Frames(bool zrle) {
    std::vector<std::vector<uint8_t>> frames;
    zova::test::Deflater deflater;
    for (int f = 0; f < kFrames; ++f) {
        Bytes b = Bytes().U8(0).U8(0).U16(1).Rect(0, 0, kWidth, kHeight, zrle ? 16 : 0);
        if (!zrle) {
            for (int y = 0; y < kHeight; ++y) for (int x = 0; x < kWidth; ++x) b.Pixel(Pixel(x, y, f));
        } else {
            Bytes tiles;
            for (int ty = 0; ty < kHeight; ty += 64) {
                for (int tx = 0; tx < kWidth; tx += 64) {
                    tiles.U8(0);  // raw tiles: the decoder's heaviest path
                    for (int y = ty; y < ty + 64; ++y) for (int x = tx; x < tx + 64; ++x) tiles.CPixel(Pixel(x, y, f));
                }
            }
            const std::vector<uint8_t> z = deflater.Next(tiles.v);
            b.U32(static_cast<uint32_t>(z.size())).Add(z);
        }
        frames.push_back(std::move(b.v));
    }
    return frames;
}

void Blit(HDC dc, const zova::rfb::FrameBuffer& screen) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(info.bmiHeader), screen.width(), -screen.height(), 1, 32, BI_RGB};
    ::SetDIBitsToDevice(dc, 0, 0, screen.width(), screen.height(), 0, 0, 0, screen.height(), screen.pixels().data(), &info,
                        DIB_RGB_COLORS);
}

void RunClient(const char* name, bool zrle, HDC dc) {
    const auto frames = Frames(zrle);
    size_t bytes = 0;
    for (const auto& f : frames) bytes += f.size();
    std::vector<double> latency;
    Clock::time_point start;
    zova::test::RfbTestServer server([&](zova::test::RfbPeer& peer) {
        peer.Send(Bytes::Hello38(kWidth, kHeight).v);
        peer.Receive(13 + 20 + 24 + 10);
        start = Clock::now();
        for (const auto& f : frames) {
            const auto sent = Clock::now();
            peer.Send(f);
            peer.Receive(10);  // the client's next request: it has painted
            latency.push_back(Seconds(Clock::now() - sent) * 1000);
        }
    });
    zova::rfb::SocketStream stream;  // the console's own
    stream.Connect("127.0.0.1", server.port());
    zova::rfb::RfbClient client(stream, stream);
    zova::rfb::FrameBuffer front;
    client.Handshake("");
    front.Resize(kWidth, kHeight);
    for (int f = 0; f < kFrames; ++f) {
        const zova::rfb::Change change = client.ReadMessage();
        front.CopyFrom(client.screen(), change.updated);
        Blit(dc, front);
        client.RequestUpdate(true);
    }
    const double total = Seconds(Clock::now() - start);
    stream.Close();
    double sum = 0;
    for (double l : latency) sum += l;
    std::printf("%-5s %6.1f fps  update-to-paint %6.2f ms  (%5.2f MB a frame)\n", name, kFrames / total,
                sum / latency.size(), bytes / 1e6 / kFrames);
}

// The floor: the same bytes through a loopback socket, read into a buffer.
void RunSocketFloor(const char* name, bool zrle) {
    const auto frames = Frames(zrle);
    zova::test::RfbTestServer server([&](zova::test::RfbPeer& peer) {
        for (const auto& f : frames) peer.Send(f);
    });
    const SOCKET s = Dial(server.port());
    std::vector<char> buffer(1 << 16);
    const auto start = Clock::now();
    size_t total = 0;
    for (int got; (got = ::recv(s, buffer.data(), static_cast<int>(buffer.size()), 0)) > 0;) total += static_cast<size_t>(got);
    const double t = Seconds(Clock::now() - start);
    ::closesocket(s);
    std::printf("%-5s socket floor %6.1f fps  (%6.0f MB/s)\n", name, kFrames / t, total / 1e6 / t);
}

}  // namespace

int main() {
    HDC dc = ::CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(info.bmiHeader), kWidth, -kHeight, 1, 32, BI_RGB};
    void* bits = nullptr;
    HGDIOBJ old = ::SelectObject(dc, ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    std::printf("%d full-screen %dx%d updates, lock step, loopback\n", kFrames, kWidth, kHeight);
    RunClient("Raw", false, dc);
    RunClient("ZRLE", true, dc);
    RunSocketFloor("Raw", false);
    RunSocketFloor("ZRLE", true);
    zova::rfb::FrameBuffer frame;
    frame.Resize(kWidth, kHeight);
    const auto start = Clock::now();
    for (int i = 0; i < 200; ++i) Blit(dc, frame);
    std::printf("blit floor: SetDIBitsToDevice %6.1f frames/s (a memory copy under the null display driver)\n",
                200 / Seconds(Clock::now() - start));
    ::DeleteObject(::SelectObject(dc, old));
    ::DeleteDC(dc);
    return 0;
}

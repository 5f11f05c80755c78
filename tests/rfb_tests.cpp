// The console's RFB client from memory, without a network (randomly damaged server streams: fuzz_inputs).
#include <gtest/gtest.h>

#include "tests/rfbStreams.h"
#include "zova/endpointPolicy.h"
#include "zova/keyMap.h"
#include "zova/rfb/rfbClient.h"

using zova::rfb::RfbClient;
using zova::rfb::SessionError;
using zova::test::Bytes;
using zova::test::FromHex;
using zova::test::MemoryStream;

namespace {

constexpr int kNone = -1;  // no error expected

struct Outcome {
    int kind = kNone;
    std::string text;
};

Outcome Play(MemoryStream& stream, RfbClient& client, const std::string& password, bool messages) {
    try {
        client.Handshake(password);
        if (messages) {
            for (int i = 0; i < 1000; ++i) client.ReadMessage();
        }
    } catch (const SessionError& e) {
        return {e.kind(), e.what()};
    }
    return {};
}

TEST(RfbHandshake, SpeaksEachVersionAndSecurityTypeAndReportsRefusals) {
    const std::string challenge(16, '\x5A');
    const struct {
        const char* name;
        Bytes server;
        const char* password;
        std::string answer;  // version and security bytes the client sends
        int kind;
        const char* text;
    } cases[] = {
        {"3.8 none", Bytes::Hello38(4, 3), "", std::string("RFB 003.008\n\x01", 13), kNone, ""},
        {"3.7 none", Bytes().Raw("RFB 003.007\n").U8(1).U8(1).Init(4, 3), "", std::string("RFB 003.007\n\x01", 13), kNone, ""},
        {"3.3 none", Bytes().Raw("RFB 003.003\n").U32(1).Init(4, 3), "", "RFB 003.003\n", kNone, ""},
        {"3.5 as 3.3", Bytes().Raw("RFB 003.005\n").U32(1).Init(4, 3), "", "RFB 003.003\n", kNone, ""},
        {"later minor as 3.8", Bytes().Raw("RFB 003.889\n").U8(1).U8(1).U32(0).Init(4, 3), "",
         std::string("RFB 003.008\n\x01", 13), kNone, ""},
        {"vnc chosen with a password", Bytes().Raw("RFB 003.008\n").U8(2).U8(1).U8(2).Raw(challenge).U32(0).Init(4, 3),
         "secret", std::string("RFB 003.008\n\x02", 13), kNone, ""},
        {"none chosen without one", Bytes().Raw("RFB 003.008\n").U8(2).U8(2).U8(1).U32(0).Init(4, 3), "",
         std::string("RFB 003.008\n\x01", 13), kNone, ""},
        {"3.8 authentication fails", Bytes().Raw("RFB 003.008\n").U8(1).U8(2).Raw(challenge).U32(1).Text("bad password"),
         "x", "", SessionError::kAuthentication, "Authentication failed: bad password"},
        {"3.3 authentication fails", Bytes().Raw("RFB 003.003\n").U32(2).Raw(challenge).U32(1), "x", "",
         SessionError::kAuthentication, "Authentication failed: wrong password?"},
        {"3.3 refused", Bytes().Raw("RFB 003.003\n").U32(0).Text("too many clients"), "", "", SessionError::kRefused,
         "The server refused the connection: too many clients"},
        {"3.8 refused", Bytes().Raw("RFB 003.008\n").U8(0).Text("no\nway"), "", "", SessionError::kRefused,
         "The server refused the connection: no way"},
        {"not RFB", Bytes().Raw("HTTP/1.1 200"), "", "", SessionError::kUnsupported, "known RFB version"},
        {"major 4", Bytes().Raw("RFB 004.000\n"), "", "", SessionError::kUnsupported, "known RFB version"},
        {"only unknown types", Bytes().Raw("RFB 003.008\n").U8(1).U8(19), "", "", SessionError::kUnsupported,
         "no security type"},
        {"3.3 unknown type", Bytes().Raw("RFB 003.003\n").U32(19), "", "", SessionError::kUnsupported, "(19)"},
        {"screen too wide", Bytes::Hello38(9000, 10), "", "", SessionError::kMalformed, "a screen of 9000x10"},
        {"screen too large", Bytes::Hello38(8000, 8000), "", "", SessionError::kMalformed, "8000x8000"},
        {"empty screen", Bytes::Hello38(0, 0), "", "", SessionError::kMalformed, "a screen of 0x0"},
        {"a name of 1 GB is not read whole", Bytes().Raw("RFB 003.008\n").U8(1).U8(1).U32(0).U16(4).U16(3).Raw(std::string(16, '\0')).U32(1u << 30).Raw("vm"),
         "", "", SessionError::kLost, "closed the connection"},
        {"cut short", Bytes().Raw("RFB 003.008\n").U8(1), "", "", SessionError::kLost, "closed the connection"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryStream stream(c.server.v);
        RfbClient client(stream, stream);
        const Outcome outcome = Play(stream, client, c.password, false);
        EXPECT_EQ(c.kind, outcome.kind);
        EXPECT_NE(std::string::npos, outcome.text.find(c.text)) << outcome.text;
        if (c.kind != kNone) continue;
        EXPECT_EQ(4, client.screen().width());
        EXPECT_EQ("vm-42", client.desktopName());
        const std::string sent(stream.out.begin(), stream.out.end());
        ASSERT_EQ(c.answer, sent.substr(0, c.answer.size()));
        // Then the VNC answer (16 bytes), shared, SetPixelFormat (20), SetEncodings of five (24), update request (10).
        const size_t vnc = c.answer.back() == '\x02' ? 16 : 0;
        ASSERT_EQ(c.answer.size() + vnc + 1 + 20 + 24 + 10, sent.size());
        EXPECT_EQ('\x01', sent[c.answer.size() + vnc]);
        EXPECT_EQ(FromHex("0000000020180001" "00FF00FF00FF" "100800" "000000"),
                  std::vector<uint8_t>(stream.out.begin() + c.answer.size() + vnc + 1,
                                       stream.out.begin() + c.answer.size() + vnc + 21));
    }
}

// A 4x4 screen as letters: . black, R red, G green, B blue, W white; rows separated by '/'.
std::string Grid(const zova::rfb::FrameBuffer& screen) {
    std::string s;
    for (int y = 0; y < screen.height(); ++y) {
        if (y) s += '/';
        for (int x = 0; x < screen.width(); ++x) {
            const uint32_t p = screen.Row(y)[x];
            s += p == 0 ? '.' : p == 0xFF0000 ? 'R' : p == 0x00FF00 ? 'G' : p == 0x0000FF ? 'B' : p == 0xFFFFFF ? 'W' : '?';
        }
    }
    return s;
}

constexpr uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, W = 0xFFFFFF;
constexpr int32_t kRaw = 0, kCopy = 1, kZrle = 16, kSize = -223, kExtSize = -308;

Bytes Update(int rects) { return Bytes().U8(0).U8(0).U16(rects); }
Bytes ZrleRect(zova::test::Deflater& d, int x, int y, int w, int h, const Bytes& tiles) {
    const std::vector<uint8_t> z = d.Next(tiles.v);
    return Bytes().Rect(x, y, w, h, kZrle).U32(static_cast<uint32_t>(z.size())).Add(z);
}
Bytes Zrle(int x, int y, int w, int h, const Bytes& tiles) {
    zova::test::Deflater d;
    return Update(1).Add(ZrleRect(d, x, y, w, h, tiles).v);
}

TEST(RfbMessages, EachEncodingDrawsItsPixelsAndBadOnesEndTheSession) {
    zova::test::Deflater shared;
    const Bytes twoZrle = Update(2).Add(ZrleRect(shared, 0, 0, 4, 1, Bytes().U8(1).CPixel(R)).v)
                              .Add(ZrleRect(shared, 0, 1, 4, 1, Bytes().U8(1).CPixel(G)).v);
    const struct {
        const char* name;
        Bytes messages;
        std::string grid;
        int kind;
        const char* text;
    } cases[] = {
        {"raw", Update(1).Rect(1, 1, 2, 2, kRaw).Pixel(R).Pixel(G).Pixel(B).Pixel(W), "..../.RG./.BW./....", kNone, ""},
        {"copy, overlapping", Update(2).Rect(0, 0, 3, 1, kRaw).Pixel(R).Pixel(G).Pixel(B).Rect(1, 0, 3, 1, kCopy).U16(0).U16(0),
         "RRGB/..../..../....", kNone, ""},
        {"zrle solid", Zrle(0, 0, 4, 4, Bytes().U8(1).CPixel(B)), "BBBB/BBBB/BBBB/BBBB", kNone, ""},
        {"zrle raw tile", Zrle(1, 1, 2, 2, Bytes().U8(0).CPixel(R).CPixel(G).CPixel(B).CPixel(W)), "..../.RG./.BW./....", kNone, ""},
        {"zrle packed palette", Zrle(0, 0, 4, 2, Bytes().U8(2).CPixel(R).CPixel(G).U8(0xA0).U8(0x50)), "GRGR/RGRG/..../....", kNone, ""},
        {"zrle 4-bit palette", Zrle(0, 0, 3, 1, Bytes().U8(5).CPixel(R).CPixel(G).CPixel(B).CPixel(W).CPixel(0).U8(0x43).U8(0x00)),
         ".WR./..../..../....", kNone, ""},
        {"zrle plain runs", Zrle(0, 0, 4, 1, Bytes().U8(128).CPixel(R).U8(2).CPixel(B).U8(0)), "RRRB/..../..../....", kNone, ""},
        {"zrle palette runs", Zrle(0, 0, 4, 1, Bytes().U8(130).CPixel(W).CPixel(G).U8(128).U8(1).U8(1).U8(0)), "WWGW/..../..../....", kNone, ""},
        {"zrle stream runs on", twoZrle, "RRRR/GGGG/..../....", kNone, ""},
        {"desktop size", Update(1).Rect(0, 0, 2, 3, kSize), "../../..", kNone, ""},
        {"extended desktop size", Update(1).Rect(0, 0, 3, 2, kExtSize).U8(1).U8(0).U16(0).U32(7).U16(0).U16(0).U16(3).U16(2).U32(0),
         ".../...", kNone, ""},
        {"colour map, bell and cut text skipped",
         Bytes().U8(1).U8(0).U16(0).U16(2).Raw(std::string(12, 'x')).U8(2).U8(3).U16(0).U8(0).Text("clip")
             .Add(Update(1).Rect(0, 0, 1, 1, kRaw).Pixel(W).v),
         "W.../..../..../....", kNone, ""},
        {"raw beyond the edge", Update(1).Rect(3, 3, 2, 2, kRaw), "", SessionError::kMalformed, "a rectangle 2x2 at 3,3 outside the 4x4 screen"},
        {"raw as wide as 16 bits go", Update(1).Rect(1, 0, 65535, 1, kRaw), "", SessionError::kMalformed, "outside"},
        {"copy from beyond the edge", Update(1).Rect(0, 0, 2, 2, kCopy).U16(3).U16(0), "", SessionError::kMalformed, "a copy from outside"},
        {"unknown encoding", Update(1).Rect(0, 0, 1, 1, 7), "", SessionError::kMalformed, "unknown encoding 7"},
        {"unknown message", Bytes().U8(99), "", SessionError::kMalformed, "unknown message type 99"},
        {"huge zrle length", Update(1).Rect(0, 0, 1, 1, kZrle).U32(0x7FFFFFFF), "", SessionError::kMalformed, "compressed rectangle of 2147483647"},
        {"zrle not zlib", Update(1).Rect(0, 0, 1, 1, kZrle).U32(4).U32(0xDEADBEEF), "", SessionError::kMalformed, "bad compressed data"},
        {"zrle unknown tile", Zrle(0, 0, 1, 1, Bytes().U8(17)), "", SessionError::kMalformed, "unknown tile type"},
        {"zrle index beyond palette", Zrle(0, 0, 1, 1, Bytes().U8(131).CPixel(R).CPixel(G).CPixel(B).U8(3)), "", SessionError::kMalformed, "palette index"},
        {"zrle packed index beyond", Zrle(0, 0, 1, 1, Bytes().U8(3).CPixel(R).CPixel(G).CPixel(B).U8(0xC0)), "", SessionError::kMalformed, "palette index"},
        {"zrle run beyond tile", Zrle(0, 0, 2, 1, Bytes().U8(128).CPixel(R).U8(5)), "", SessionError::kMalformed, "run longer"},
        {"zrle endless run", Zrle(0, 0, 2, 1, Bytes().U8(128).CPixel(R).Raw(std::string(40, '\xFF'))), "", SessionError::kMalformed, "run longer"},
        {"zrle ends early", Zrle(0, 0, 2, 2, Bytes().U8(0).CPixel(R)), "", SessionError::kMalformed, "ends before its last tile"},
        {"desktop size too large", Update(1).Rect(0, 0, 9000, 9000, kSize), "", SessionError::kMalformed, "a screen of 9000x9000"},
        {"raw cut short", Update(1).Rect(0, 0, 2, 2, kRaw).Pixel(R), "", SessionError::kLost, "closed the connection"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryStream stream(Bytes::Hello38(4, 4).Add(c.messages.v).v);
        RfbClient client(stream, stream);
        const Outcome outcome = Play(stream, client, "", true);
        // Every stream ends: well-formed ones when the connection closes.
        EXPECT_EQ(c.kind == kNone ? SessionError::kLost : c.kind, outcome.kind);
        EXPECT_NE(std::string::npos, outcome.text.find(c.text)) << outcome.text;
        if (c.kind == kNone) {
            EXPECT_EQ(c.grid, Grid(client.screen()));
        }
    }
}

TEST(RfbMessages, ExtendedDesktopSizeOffersResizingAndReportsARefusal) {
    MemoryStream stream(Bytes::Hello38(4, 4).Add(Update(1).Rect(1, 3, 5, 5, kExtSize).U8(1).U8(0).U16(0).U32(9)
                                                    .U16(0).U16(0).U16(4).U16(4).U32(0).v).v);
    RfbClient client(stream, stream);
    client.Handshake("");
    EXPECT_FALSE(client.canResize());
    EXPECT_EQ("The server refused the new screen size: invalid screen layout", client.ReadMessage().refusal);
    EXPECT_TRUE(client.canResize());
    EXPECT_EQ(4, client.screen().width());  // unchanged
    stream.out.clear();
    client.RequestDesktopSize(800, 600);
    client.SendKey(0xFFE3, true);
    client.SendPointer(300, 20, 1 | 8);
    client.SendCutText("hi");
    client.RequestUpdate(true);
    // SetDesktopSize names the server's screen id (9); then KeyEvent, PointerEvent, ClientCutText, an update request.
    EXPECT_EQ(FromHex("FB00032002580100" "000000090000000003200258" "00000000"
                      "0401000000" "00FFE3" "05" "09012C0014" "06000000" "00000002" "6869" "0301000000000004" "0004"),
              stream.out);
}

using zova::console::Endpoint;
using zova::console::HostForm;

TEST(EndpointPolicy, HostFormsAndTheAllowedEndpoints) {
    const struct { const wchar_t* text; HostForm form; const wchar_t* host; int port; } forms[] = {
        {L"host-01.lab.example", HostForm::kSimulated, L"", 0},
        {L"host-01.lab.example:5901", HostForm::kRfb, L"host-01.lab.example", 5901},
        {L"[::1]:5900", HostForm::kRfb, L"::1", 5900},
        {L"127.0.0.1:65535", HostForm::kRfb, L"127.0.0.1", 65535},
        {L"127.0.0.1:65536", HostForm::kInvalid, L"", 0},
        {L"127.0.0.1:0", HostForm::kInvalid, L"", 0},
        {L"127.0.0.1:59x", HostForm::kInvalid, L"", 0},
        {L":5900", HostForm::kInvalid, L"", 0},
        {L"::1:5900", HostForm::kInvalid, L"", 0},
        {L"[::1]5900", HostForm::kInvalid, L"", 0},
    };
    for (const auto& f : forms) {
        Endpoint e;
        EXPECT_EQ(f.form, zova::console::ParseHost(f.text, e)) << f.text;
        if (f.form == HostForm::kRfb) {
            EXPECT_TRUE(e.host == f.host && e.port == f.port) << f.text;
        }
    }
    const std::vector<std::wstring> lab{L"*.LAB.example:59??", L"10.1.2.3:5900"};
    const struct { std::vector<std::wstring> patterns; bool configured; const wchar_t* host; int port; bool allowed; } rules[] = {
        {{}, false, L"127.200.0.1", 5900, true},
        {{}, false, L"LocalHost", 5900, true},
        {{}, false, L"::1", 5900, true},
        {{}, false, L"128.0.0.1", 5900, false},
        {{}, false, L"127.0.0.1.lab.example", 5900, false},
        {lab, true, L"host-01.lab.example", 5901, true},
        {lab, true, L"host-01.lab.example", 6001, false},
        {lab, true, L"lab.example", 5901, false},
        {lab, true, L"10.1.2.3", 5900, true},
        {lab, true, L"10.1.2.30", 5900, false},
        {lab, true, L"127.0.0.1", 5900, false},  // a list replaces the loopback default
        {{}, true, L"127.0.0.1", 5900, false},
    };
    for (const auto& r : rules) {
        EXPECT_EQ(r.allowed, zova::console::EndpointAllowed(r.patterns, r.configured, {r.host, static_cast<uint16_t>(r.port)}))
            << r.host << ":" << r.port;
    }
}

TEST(EndpointPolicy, ReadsTheValueOfEitherRoot) {
    const wchar_t* key = L"Software\\Velmora\\Remote Console (policy test)";
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
    bool configured = true;
    EXPECT_TRUE(zova::console::ReadAllowedEndpoints(key, configured).empty());
    EXPECT_FALSE(configured);
    const wchar_t value[] = L" a.lab.example:5900 ;;*:5901; ";
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CURRENT_USER, key, zova::console::kPolicyValue, REG_SZ, value, sizeof(value)));
    EXPECT_EQ((std::vector<std::wstring>{L"a.lab.example:5900", L"*:5901"}), zova::console::ReadAllowedEndpoints(key, configured));
    EXPECT_TRUE(configured);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
}

TEST(KeyMap, SpecialKeysCharactersAndTheKeypad) {
    const struct { UINT key; bool extended, shift; uint32_t keysym; } keys[] = {
        {'A', false, false, 'a'},          {'A', false, true, 'A'},           {'2', false, true, '@'},
        {'0', false, false, '0'},          {VK_OEM_1, false, true, ':'},      {VK_OEM_7, false, false, '\''},
        {VK_SPACE, false, false, ' '},     {VK_RETURN, false, false, 0xFF0D}, {VK_RETURN, true, false, 0xFF8D},
        {VK_ESCAPE, false, false, 0xFF1B}, {VK_F1, false, false, 0xFFBE},     {VK_F12, false, false, 0xFFC9},
        {VK_DELETE, true, false, 0xFFFF},  {VK_DELETE, false, false, 0xFF9F}, {VK_HOME, true, false, 0xFF50},
        {VK_HOME, false, false, 0xFF95},   {VK_LEFT, true, false, 0xFF51},    {VK_NUMPAD7, false, false, 0xFFB7},
        {VK_DIVIDE, true, false, 0xFFAF},  {VK_CONTROL, false, false, 0xFFE3}, {VK_CONTROL, true, false, 0xFFE4},
        {VK_MENU, true, false, 0xFFEA},    {VK_RSHIFT, false, false, 0xFFE2}, {VK_LWIN, true, false, 0xFFEB},
        {VK_VOLUME_UP, true, false, 0},
    };
    for (const auto& k : keys) {
        EXPECT_EQ(k.keysym, zova::console::KeysymFor(k.key, k.extended, k.shift)) << k.key << (k.extended ? " extended" : "");
    }
}

}  // namespace

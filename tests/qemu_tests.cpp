// End to end with a real VM: the control starts the reference console, which connects over RFB to a QEMU guest running
// memtest86+ (from scripts/with-qemu), whose monitor pauses it and dumps its screen for an exact comparison.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/consoleTestSupport.h"
#include "tests/controlFakes.h"
#include "tests/logTestSupport.h"
#include "zova/rfb/rfbSession.h"

using comfw::Bstr;
using Events = std::vector<std::wstring>;

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t value[512] = {};
    return ::GetEnvironmentVariableW(name, value, 512) ? value : L"";
}

// The guest's monitor over its loopback TCP port: one command at a time, each answered when the prompt comes back.
class Monitor {
public:
    explicit Monitor(int port) {
        zova::rfb::StartWinsock();
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<u_short>(port));
        ok_ = ::connect(socket_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 && Prompt();
    }
    ~Monitor() { ::closesocket(socket_); }
    bool Command(const std::string& line) {
        const std::string text = line + "\n";
        return ok_ && ::send(socket_, text.data(), static_cast<int>(text.size()), 0) > 0 && Prompt();
    }

private:
    bool Prompt() {
        std::string seen;
        char buffer[1024];
        while (seen.find("(qemu) ") == std::string::npos) {
            const int n = ::recv(socket_, buffer, sizeof(buffer), 0);
            if (n <= 0) return false;
            seen.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    SOCKET socket_;
    bool ok_ = false;
};

class QemuGuest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(vnc.empty()) << "run through scripts/with-qemu";
        RECT r{0, 0, 720, 400};
        const DWORD style = zova::ZOVAEmbeddedCtl::kWindowStyle;
        ASSERT_NE(nullptr, rig.control->CreateWindowFor(host.hwnd, &r, nullptr, style, 0));
        ASSERT_EQ(S_OK, rig.Startup());
    }
    void TearDown() override {
        rig.link.realVm.reset();
        rig.control->shutdown();
        rig.control.reset();
    }
    HRESULT Connect(const std::wstring& where, const wchar_t* password) {
        rig.page->events.clear();
        const auto text = [](const wchar_t* s) { return Bstr::Attach(::SysAllocString(s)); };
        return rig.control->connect(text(where.c_str()).get(), nullptr, VARIANT_FALSE, nullptr, text(L"operator").get(),
                                    text(password).get(), text(L"vm-42").get(), text(L"dc-west").get(),
                                    text(L"store-1/vm-42/vm-42.cfg").get());
    }
    Events Take(size_t count, DWORD ms = 10000) {
        zova::test::PumpUntil([&] { return rig.page->events.size() >= count; }, ms);
        return std::exchange(rig.page->events, {});
    }

    const std::wstring vnc = Env(L"ZOVA_QEMU_VNC");
    const std::string dumpUnix = zova::test::Narrow(Env(L"ZOVA_QEMU_DUMP"));
    const std::wstring dumpWindows = L"Z:" + Env(L"ZOVA_QEMU_DUMP");  // slashes do as separators
    zova::test::TestWindow host;
    zova::test::ControlRig rig{&zova::ProcessConsoleLink()};
};

TEST_F(QemuGuest, ThePageSeesTypesIntoAndLosesTheGuest) {
    Monitor monitor(std::stoi(Env(L"ZOVA_QEMU_MONITOR")));
    const std::wstring who = L"'" + vnc + L"', 'dc-west', 'vm-42'";
    // A wrong password: QEMU's own check of VNC authentication refuses it.
    ASSERT_EQ(S_OK, Connect(vnc, L"wrong"));
    const Events refused = Take(2);
    ASSERT_EQ(2u, refused.size());
    EXPECT_EQ(L"2: ui4 1, " + who + L", bool 0, 'Authentication failed", refused[0].substr(0, 42 + who.size()));

    // The right one: connected, then the guest's screen size.
    ASSERT_EQ(S_OK, Connect(vnc, L"secret"));
    EXPECT_EQ((Events{L"2: ui4 2, " + who + L", bool -1, ''", L"1: ui4 1, 'Connected to " + vnc + L"'",
                      L"4: i4 720, i4 400"}),
              Take(3));

    // Paused, the guest's screen holds still: the console's pixels are QEMU's own.
    ASSERT_TRUE(monitor.Command("stop"));
    ASSERT_TRUE(monitor.Command("screendump " + dumpUnix));
    const std::string dump = zova::test::ReadPpm(dumpWindows);
    ASSERT_EQ("720x400:", dump.substr(0, 8));
    EXPECT_TRUE(zova::test::PumpUntil([&] { return zova::test::ConsoleFrame(rig.link.realVm.get()) == dump; }, 10000))
        << "the console's frame differs";
    ASSERT_TRUE(monitor.Command("cont"));

    ASSERT_EQ(S_OK, rig.control->disconnect());
    EXPECT_EQ((Events{L"2: ui4 1, " + who + L", bool -1, ''"}), Take(1));
    ASSERT_EQ(S_OK, Connect(vnc, L"secret"));
    EXPECT_EQ(3u, Take(3).size());

    // Esc typed into the console window makes memtest86+ restart: QEMU (-no-reboot) ends, and the page hears why.
    const HWND console = zova::test::ConsoleWindowOf(rig.control->vm_control());
    ASSERT_TRUE(console);
    ::PostMessageW(console, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(console, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    const Events lost = Take(2, 20000);
    ASSERT_EQ(2u, lost.size());
    EXPECT_EQ(L"2: ui4 1, " + who + L", bool 0, 'The ", lost[0].substr(0, 25 + who.size())) << lost[0];
    EXPECT_EQ(L"1: ui4 3, 'The ", lost[1].substr(0, 15));

    // The console goes on: the simulated VM answers as ever.
    ASSERT_EQ(S_OK, Connect(L"host-01.lab.example", L""));
    EXPECT_EQ(L"2: ui4 2, 'host-01.lab.example', 'dc-west', 'vm-42', bool -1, ''", Take(2).at(0));
}

}  // namespace

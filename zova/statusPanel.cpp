#include "zova/statusPanel.h"

#include <vector>

#include "comfw/uniqueAny.h"

namespace zova::console {
namespace {

const wchar_t* GrabText(ULONG state) {
    switch (state) {
        case kGrabbed: return L"grabbed";
        case kUngrabbedHard: return L"released";
        case kUngrabbedSoft: return L"released (soft)";
        default: return L"?";
    }
}

std::vector<std::wstring> Lines(const VmSession& s, const std::wstring& title) {
    std::vector<std::wstring> lines{title, L""};
    if (s.connectionState == kConnected) {
        lines.push_back(L"Connection:   connected to " + s.host + L" as " + s.user);
        lines.push_back(L"VM:           " + s.moid + L" in " + s.datacenter);
        lines.push_back(L"Proxy:        " + (s.proxy.empty() ? std::wstring(L"none") : s.proxy));
    } else {
        lines.push_back(L"Connection:   disconnected");
    }
    lines.push_back(L"Screen:       " + std::to_wstring(s.screenWidth) + L" x " + std::to_wstring(s.screenHeight));
    lines.push_back(std::wstring(L"Full screen:  ") + (s.fullscreen ? L"on" : L"off"));
    lines.push_back(std::wstring(L"Input:        ") + GrabText(s.grabState));
    lines.push_back(L"Ctrl-Alt-Del: " + std::to_wstring(s.cadCount));
    for (const VirtualDevice& d : s.virtualDevices) {
        lines.push_back(L"Device " + d.key + L": " +
                        (d.state == kDeviceConnected ? L"connected to " + d.backingKey : L"disconnected"));
    }
    return lines;
}

}  // namespace

void DrawStatusPanel(HDC dc, const RECT& area, const VmSession& session, const std::wstring& title) noexcept {
    const comfw::unique_hbrush background(::CreateSolidBrush(RGB(18, 22, 30)));
    ::FillRect(dc, &area, background.get());
    ::SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = ::SelectObject(dc, ::GetStockObject(ANSI_FIXED_FONT));
    std::vector<std::wstring> lines;
    try {
        lines = Lines(session, title);
    } catch (...) {
        lines.clear();
    }
    const COLORREF colors[] = {RGB(120, 200, 255), RGB(220, 220, 220)};
    int y = area.top + 8;
    for (size_t i = 0; i < lines.size(); ++i) {
        ::SetTextColor(dc, colors[i == 0 ? 0 : 1]);
        ::TextOutW(dc, area.left + 10, y, lines[i].c_str(), static_cast<int>(lines[i].size()));
        y += 18;
    }
    ::SelectObject(dc, oldFont);
}

}  // namespace zova::console

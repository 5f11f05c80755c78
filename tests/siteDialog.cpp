// sitedialog REPORT ANSWER...: answers the site access dialogs of another process, one ANSWER each, in
// the order they appear, after writing one line per dialog to REPORT (UTF-8):
//   PROTOCOL|HOSTNAME|PORT ticked|cleared 'DENY CAPTION' focus:deny|other
// ANSWER: allow, allow-remember (the box cleared first), deny, esc (Escape on the focused control), close (the close
// box), timeout (no answer; adds "countdown 10 9 ... 1 after N s").
// Exit status 0 when every answer found its dialog and the dialog closed.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// A site access dialog of another process, or null.
HWND OpenDialog() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t title[64] = {};
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid != GetCurrentProcessId() && IsWindowVisible(w) && GetWindowTextW(w, title, 64) &&
                wcscmp(title, L"Corvix Access Control") == 0)
                *reinterpret_cast<HWND*>(p) = w;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string Text(HWND w) {
    wchar_t text[256] = {};
    char out[1024] = {};
    GetWindowTextW(w, text, 256);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
    return out;
}

HWND FocusOf(HWND dialog) {
    GUITHREADINFO info{sizeof info};
    return GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) ? info.hwndFocus : nullptr;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    FILE* report = argc > 1 ? _wfopen(argv[1], L"wb") : nullptr;
    if (!report) return 2;
    for (int i = 2; i < argc; ++i) {
        const std::wstring answer = argv[i];
        HWND dialog = nullptr;
        for (DWORD start = GetTickCount(); !dialog && GetTickCount() - start < 30000; Sleep(20)) dialog = OpenDialog();
        if (!dialog) return std::fprintf(report, "no dialog\n"), 1;
        const DWORD opened = GetTickCount();
        HWND deny = GetDlgItem(dialog, IDCANCEL), box = GetDlgItem(dialog, 1004);
        while (FocusOf(dialog) != deny && GetTickCount() - opened < 2000) Sleep(20);
        std::fprintf(report, "%s|%s|%s %s '%s' focus:%s\n", Text(GetDlgItem(dialog, 1001)).c_str(),
                     Text(GetDlgItem(dialog, 1002)).c_str(), Text(GetDlgItem(dialog, 1003)).c_str(),
                     SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? "ticked" : "cleared", Text(deny).c_str(),
                     FocusOf(dialog) == deny ? "deny" : "other");
        std::fflush(report);
        if (answer == L"allow-remember") SendMessageW(box, BM_CLICK, 0, 0);
        if (answer == L"allow" || answer == L"allow-remember") SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        if (answer == L"deny") SendMessageW(deny, BM_CLICK, 0, 0);
        if (answer == L"esc") PostMessageW(FocusOf(dialog), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        if (answer == L"close") PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        std::string countdown;
        for (int seconds = 0, last = 0; answer == L"timeout" && IsWindow(dialog); Sleep(20))
            if (sscanf(Text(deny).c_str(), "Deny (automatic in %d seconds)", &seconds) == 1 && seconds != last)
                countdown += " " + std::to_string(last = seconds);
        if (answer == L"timeout")
            std::fprintf(report, "countdown%s after %lu s\n", countdown.c_str(),
                         (GetTickCount() - opened + 500) / 1000);
        for (DWORD start = GetTickCount(); IsWindow(dialog); Sleep(20))
            if (GetTickCount() - start > 15000) return std::fprintf(report, "still open\n"), 1;
    }
    return std::fclose(report), 0;
}

// sitedialog REPORT [--together N] [--pause MS] ANSWER...: answers the site access dialogs
// of another process, one ANSWER each, in the order they appear. For each
// dialog it writes one line to REPORT (UTF-8) before answering:
//   PROTOCOL|HOSTNAME|PORT ticked|cleared 'DENY CAPTION' focus:deny|other
// ANSWER: allow (box as it is), allow-remember (box cleared first), deny
// (the Deny button), esc (Escape on the focused control), close (the close
// box), timeout (no answer: adds "countdown 10 9 ... 1 after N s").
// --together N: waits until N dialogs are open at once before answering.
// --pause MS: leaves each dialog alone that long before answering (for a picture).
// Exit status 0 when every answer found its dialog and the dialog closed.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

const wchar_t kTitle[] = L"Corvix Access Control";

std::vector<HWND> OpenDialogs() {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t title[64] = {}, cls[16] = {};
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid != GetCurrentProcessId() && IsWindowVisible(w) && GetClassNameW(w, cls, 16) &&
                wcscmp(cls, L"#32770") == 0 && GetWindowTextW(w, title, 64) && wcscmp(title, kTitle) == 0)
                reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring Text(HWND w) {
    wchar_t text[256] = {};
    GetWindowTextW(w, text, 256);
    return text;
}

std::string Utf8(const std::wstring& text) {
    char out[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return out;
}

HWND FocusOf(HWND dialog) {
    GUITHREADINFO info{sizeof info};
    return GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) ? info.hwndFocus : nullptr;
}

bool WaitUntil(DWORD ms, bool (*done)(HWND), HWND w) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(20))
        if (done(w)) return true;
    return done(w);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    FILE* report = _wfopen(argv[1], L"wb");
    if (!report) return 2;
    int first = 2;
    size_t together = 1;
    DWORD pause = 0;
    for (; first + 1 < argc && wcsncmp(argv[first], L"--", 2) == 0; first += 2) {
        if (wcscmp(argv[first], L"--together") == 0) together = static_cast<size_t>(_wtoi(argv[first + 1]));
        if (wcscmp(argv[first], L"--pause") == 0) pause = static_cast<DWORD>(_wtoi(argv[first + 1]));
    }
    std::set<HWND> answered;
    for (int i = first; i < argc; ++i) {
        const std::wstring answer = argv[i];
        HWND dialog = nullptr;
        for (DWORD start = GetTickCount(); !dialog && GetTickCount() - start < 30000; Sleep(20)) {
            std::vector<HWND> open = OpenDialogs();
            if (open.size() < together) continue;
            for (HWND w : open)
                if (!answered.count(w)) dialog = w;
        }
        together = 1;
        if (!dialog) {
            std::fprintf(report, "no dialog for %s\n", Utf8(answer).c_str());
            return 1;
        }
        answered.insert(dialog);
        const DWORD opened = GetTickCount();
        HWND deny = GetDlgItem(dialog, IDCANCEL), box = GetDlgItem(dialog, 1004);
        static HWND s_deny;
        s_deny = deny;
        const bool focused = WaitUntil(2000, [](HWND d) { return FocusOf(d) == s_deny; }, dialog);
        std::fprintf(report, "%s|%s|%s %s '%s' focus:%s\n", Utf8(Text(GetDlgItem(dialog, 1001))).c_str(),
                     Utf8(Text(GetDlgItem(dialog, 1002))).c_str(), Utf8(Text(GetDlgItem(dialog, 1003))).c_str(),
                     SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? "ticked" : "cleared",
                     Utf8(Text(deny)).c_str(), focused ? "deny" : "other");
        std::fflush(report);
        Sleep(pause);
        if (answer == L"allow-remember") SendMessageW(box, BM_CLICK, 0, 0);
        if (answer == L"allow" || answer == L"allow-remember") SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        else if (answer == L"deny") SendMessageW(deny, BM_CLICK, 0, 0);
        else if (answer == L"esc") PostMessageW(FocusOf(dialog), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        else if (answer == L"close") PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        else if (answer == L"timeout") {
            std::string seen;
            int last = 0;
            while (IsWindow(dialog)) {
                int seconds = 0;
                if (swscanf(Text(deny).c_str(), L"Deny (automatic in %d seconds)", &seconds) == 1 && seconds != last)
                    seen += " " + std::to_string(last = seconds);
                Sleep(20);
            }
            std::fprintf(report, "countdown%s after %lu s\n", seen.c_str(), (GetTickCount() - opened + 500) / 1000);
        }
        if (!WaitUntil(15000, [](HWND d) { return !IsWindow(d); }, dialog)) {
            std::fprintf(report, "still open after %s\n", Utf8(answer).c_str());
            return 1;
        }
    }
    std::fclose(report);
    return 0;
}

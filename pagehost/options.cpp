#include "pagehost/options.h"

#include <cwchar>

namespace pagehost {

const char kUsage[] =
    "usage: pagehost [--url URL] [--screenshot FILE] [--dialog-shot FILE] [--timeout SECONDS] PAGE [-- WORDS...]\n"
    "  PAGE               an .html page (object, param and script tags) or a .js script\n"
    "  --url URL          the location the page's controls see (default: the page's file: URL)\n"
    "  --screenshot FILE  write a PNG of the host window when the page ends\n"
    "  --dialog-shot FILE write a PNG of the first dialog box the page shows\n"
    "  --timeout SECONDS  end the page with status 3 if it runs longer\n"
    "  -- WORDS...        the words script reads as host.args\n"
    "exit status: 0 page ended or host.exit(0); host.exit(n): n; 1 script error;\n"
    "             2 host error (page, class or command line); 3 timeout\n";

bool ParseOptions(const std::vector<std::wstring>& argv, Options& out, std::wstring& error) {
    out = Options{};
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::wstring& a = argv[i];
        auto value = [&](std::wstring& into) {
            if (i + 1 >= argv.size()) {
                error = a + L" needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (a == L"--") {
            out.args.assign(argv.begin() + static_cast<long>(i) + 1, argv.end());
            break;
        } else if (a == L"--url") {
            if (!value(out.url)) return false;
        } else if (a == L"--screenshot") {
            if (!value(out.screenshotPath)) return false;
        } else if (a == L"--dialog-shot") {
            if (!value(out.dialogShotPath)) return false;
        } else if (a == L"--timeout") {
            std::wstring text;
            if (!value(text)) return false;
            wchar_t* end = nullptr;
            const double seconds = std::wcstod(text.c_str(), &end);
            if (text.empty() || !end || *end || !(seconds > 0) || seconds > 86400) {
                error = L"--timeout needs a number of seconds, not \"" + text + L"\"";
                return false;
            }
            out.timeoutMs = static_cast<DWORD>(seconds * 1000);
            if (out.timeoutMs == 0) out.timeoutMs = 1;
        } else if (a.size() > 1 && a[0] == L'-' && a != L"-") {
            error = L"unknown option " + a;
            return false;
        } else if (out.pagePath.empty()) {
            out.pagePath = a;
        } else {
            error = L"more than one page: " + a;
            return false;
        }
    }
    if (out.pagePath.empty()) {
        error = L"no page given";
        return false;
    }
    return true;
}

}  // namespace pagehost

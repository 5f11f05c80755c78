// pagehost: runs a page's controls and JScript the way a browser would, for
// tests, the demo and page authors. See options.cpp for the command line and
// pagehost.idl for what script can call.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include "comfw/uniqueAny.h"
#include "pagehost/options.h"
#include "pagehost/page.h"

int main() {
    // Lines end in "\n" alone, whatever reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int argc = 0;
    const comfw::unique_hlocal<LPWSTR> raw(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    std::vector<std::wstring> argv;
    for (int i = 0; raw && i < argc; ++i) argv.emplace_back(raw.get()[i]);

    pagehost::Options options;
    std::wstring error;
    if (!pagehost::ParseOptions(argv, options, error)) {
        std::fprintf(stderr, "pagehost: %ls\n%s", error.c_str(), pagehost::kUsage);
        return pagehost::kStatusHostError;
    }
    // OLE, not just COM: in-place activation and the controls' drop targets
    // and clipboard need it, as in a browser.
    if (FAILED(::OleInitialize(nullptr))) {
        std::fprintf(stderr, "pagehost: OleInitialize failed\n");
        return pagehost::kStatusHostError;
    }
    int status;
    {
        pagehost::Page page(std::move(options));
        status = page.Run();
    }
    std::fflush(stdout);
    std::fflush(stderr);
    ::OleUninitialize();
    return status;
}

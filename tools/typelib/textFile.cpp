#include "tools/typelib/textFile.h"

#include <cstdio>
#include <memory>

#include "tools/typelib/failure.h"

namespace tlbtool {

HRESULT WriteTextFile(const wchar_t* path, const std::wstring& text) {
    std::string utf8;
    if (!text.empty()) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                               nullptr, nullptr);
        if (size <= 0) return Fail(E_INVALIDARG, L"converting text to UTF-8");
        utf8.resize(size);
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr,
                              nullptr);
    }
    const std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path, L"wb"), &std::fclose);
    if (!file) return Fail(E_ACCESSDENIED, std::wstring(L"opening ") + path);
    if (std::fwrite(utf8.data(), 1, utf8.size(), file.get()) != utf8.size())
        return Fail(E_FAIL, std::wstring(L"writing ") + path);
    return S_OK;
}

}  // namespace tlbtool

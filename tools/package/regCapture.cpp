// Build-time tool, run under Wine:
//   regcapture MODULE OUT.wxi
// writes, as Windows Installer registry rows (a WiX include), exactly what
// the module's DllRegisterServer writes: its registry script and its type
// library's registration. Classes root is redirected to a scratch key for the
// call (RegOverridePredefKey), so nothing of the machine's registration
// changes. The module's path becomes [#velmoraRemoteConsole.dll] and its
// folder [INSTALLDIR], so the installer writes what registering the installed
// module would.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "comfw/hresult.h"
#include "comfw/uniqueAny.h"
#include "tools/typelib/comApartment.h"
#include "tools/typelib/failure.h"
#include "tools/typelib/textFile.h"

namespace {

// Every replacement of one text by another.
std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); !from.empty() && at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::wstring Xml(std::wstring text) {
    text = Replaced(text, L"&", L"&amp;");
    text = Replaced(text, L"\"", L"&quot;");
    text = Replaced(text, L"<", L"&lt;");
    return Replaced(text, L">", L"&gt;");
}

// Brackets are formatted-text syntax in a Windows Installer value.
std::wstring Formatted(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'[' || c == L']') out += std::wstring(L"[\\") + c + L"]";
        else out += c;
    }
    return out;
}

class Capture {
public:
    Capture(std::wstring module, std::wstring folder) : module_(std::move(module)), folder_(std::move(folder)) {}

    // One row per value, and one that makes each key without values.
    HRESULT Walk(HKEY key, const std::wstring& path) {
        DWORD subkeys = 0, values = 0;
        const LONG rc = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                           nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
        if (!path.empty() && values == 0 && subkeys == 0)
            rows_ += L"  <RegistryValue Root=\"HKCR\" Key=\"" + Xml(path) + L"\" Name=\"*\" Type=\"string\" Value=\"\" />\n";
        for (DWORD i = 0; i < values; ++i) COMFW_RETURN_IF_FAILED(Value(key, path, i));
        for (DWORD i = 0; i < subkeys; ++i) {
            wchar_t name[256];
            DWORD size = 256;
            if (::RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return E_FAIL;
            comfw::unique_hkey child;
            if (::RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) != ERROR_SUCCESS) return E_FAIL;
            COMFW_RETURN_IF_FAILED(Walk(child.get(), path.empty() ? name : path + L"\\" + name));
        }
        return S_OK;
    }

    const std::wstring& Rows() const { return rows_; }

private:
    HRESULT Value(HKEY key, const std::wstring& path, DWORD index) {
        wchar_t name[256];
        DWORD nameSize = 256, type = 0, dataSize = 0;
        LONG rc = ::RegEnumValueW(key, index, name, &nameSize, nullptr, &type, nullptr, &dataSize);
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
        if (type != REG_SZ) return tlbtool::Fail(E_NOTIMPL, L"a value that is not a string under " + path);
        std::vector<wchar_t> data(dataSize / sizeof(wchar_t) + 1, L'\0');
        nameSize = 256;
        rc = ::RegEnumValueW(key, index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                             &dataSize);
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
        std::wstring value = Formatted(data.data());
        value = Replaced(value, Formatted(module_), L"[#velmoraRemoteConsole.dll]");
        value = Replaced(value, Formatted(folder_), L"[INSTALLDIR]");
        rows_ += L"  <RegistryValue Root=\"HKCR\" Key=\"" + Xml(path) + L"\"" +
                 (nameSize ? L" Name=\"" + Xml(name) + L"\"" : std::wstring()) + L" Type=\"string\" Value=\"" +
                 Xml(value) + L"\" />\n";
        return S_OK;
    }

    std::wstring module_;
    std::wstring folder_;
    std::wstring rows_;
};

HRESULT Run(const wchar_t* modulePath, const wchar_t* out) {
    wchar_t full[MAX_PATH];
    if (!::GetFullPathNameW(modulePath, MAX_PATH, full, nullptr)) return tlbtool::Fail(comfw::LastErrorHresult(), L"module path");
    const std::wstring module = full;
    const std::wstring folder = module.substr(0, module.find_last_of(L'\\'));

    const std::wstring scratchPath = L"Software\\Velmora\\RegistrationCapture-" + std::to_wstring(::GetCurrentProcessId());
    comfw::unique_hkey scratch;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, scratchPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          scratch.put(), nullptr) != ERROR_SUCCESS)
        return tlbtool::Fail(E_ACCESSDENIED, L"creating the scratch key");
    HRESULT hr = HRESULT_FROM_WIN32(::RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch.get()));
    if (SUCCEEDED(hr)) {
        const HMODULE loaded = ::LoadLibraryW(module.c_str());
        using Register = HRESULT(WINAPI*)();
        const auto reg = loaded ? reinterpret_cast<Register>(::GetProcAddress(loaded, "DllRegisterServer")) : nullptr;
        hr = reg ? reg() : comfw::LastErrorHresult();
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (FAILED(hr)) tlbtool::Fail(hr, L"DllRegisterServer of " + module);
    } else {
        tlbtool::Fail(hr, L"redirecting the classes root");
    }
    Capture capture(module, folder);
    if (SUCCEEDED(hr)) hr = capture.Walk(scratch.get(), L"");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, scratchPath.c_str());
    if (FAILED(hr)) return hr;
    return tlbtool::WriteTextFile(out, L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                       L"<!-- What DllRegisterServer writes, captured by the build (regcapture). -->\n"
                                       L"<Include>\n" + capture.Rows() + L"</Include>\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    tlbtool::ComApartment com;
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: regcapture MODULE OUT.wxi\n");
        return 2;
    }
    return SUCCEEDED(Run(argv[1], argv[2])) ? 0 : 1;
}

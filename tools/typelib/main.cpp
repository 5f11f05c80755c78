// Build-time tool, run under Wine:
//   tlbtool complete WIDL.tlb OUT.tlb {MEMBER-HELP-GUID}
//     the control's type library: widl's, with the enum members' help strings.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>

#include "comfw/comPtr.h"
#include "tools/typelib/failure.h"
#include "tools/typelib/typeLibCopy.h"

namespace {

struct ComApartment {
    HRESULT status = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComApartment() {
        if (SUCCEEDED(status)) ::CoUninitialize();
    }
};

HRESULT Complete(const wchar_t* widlLibrary, const wchar_t* out, const wchar_t* memberHelp) {
    GUID guid{};
    TLBTOOL_CHECK(::CLSIDFromString(memberHelp, &guid), std::wstring(L"reading the GUID ") + memberHelp);
    comfw::ComPtr<ITypeLib> lib;
    TLBTOOL_CHECK(::LoadTypeLibEx(widlLibrary, REGKIND_NONE, lib.put()), std::wstring(L"loading ") + widlLibrary);
    return tlbtool::CopyWithMemberHelp(lib.get(), guid, out);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ComApartment com;
    if (FAILED(com.status)) return tlbtool::Fail(com.status, L"CoInitializeEx"), 2;
    if (argc == 5 && std::wcscmp(argv[1], L"complete") == 0) return FAILED(Complete(argv[2], argv[3], argv[4])) ? 1 : 0;
    std::fwprintf(stderr, L"usage: tlbtool complete WIDL.tlb OUT.tlb {GUID}\n");
    return 2;
}

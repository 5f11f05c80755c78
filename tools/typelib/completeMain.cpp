// Build-time tool, run under Wine before the module is linked:
//   tlbcomplete WIDL.tlb OUT.tlb {MEMBER-HELP-GUID}
// writes the control's type library: widl's, with the enum members' help
// strings (typeLibCopy.h).
#include <windows.h>
#include <oleauto.h>

#include <cstdio>

#include "comfw/comPtr.h"
#include "tools/typelib/comApartment.h"
#include "tools/typelib/failure.h"
#include "tools/typelib/typeLibCopy.h"

namespace {

HRESULT Complete(const wchar_t* widlLibrary, const wchar_t* out, const wchar_t* memberHelp) {
    GUID guid{};
    TLBTOOL_CHECK(::CLSIDFromString(memberHelp, &guid), std::wstring(L"reading the GUID ") + memberHelp);
    comfw::ComPtr<ITypeLib> lib;
    TLBTOOL_CHECK(::LoadTypeLibEx(widlLibrary, REGKIND_NONE, lib.put()), std::wstring(L"loading ") + widlLibrary);
    return tlbtool::CopyWithMemberHelp(lib.get(), guid, out);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    tlbtool::ComApartment com;
    if (FAILED(com.status)) return tlbtool::Fail(com.status, L"CoInitializeEx"), 2;
    if (argc != 4) {
        std::fwprintf(stderr, L"usage: tlbcomplete WIDL.tlb OUT.tlb {MEMBER-HELP-GUID}\n");
        return 2;
    }
    return SUCCEEDED(Complete(argv[1], argv[2], argv[3])) ? 0 : 1;
}

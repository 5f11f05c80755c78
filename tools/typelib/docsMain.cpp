// Build-time tool, run under Wine once the module is linked:
//   tlbdocs reference MODULE OUT.d.ts OUT.md
//     the control's declarations and scripting reference, from the library
//     MODULE embeds and the constant dictionaries a live control answers.
//   tlbdocs declarations FILE OUT.d.ts
//     declarations of any type library (a .tlb, or a module that embeds one).
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>

#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "tools/typelib/apiReference.h"
#include "tools/typelib/comApartment.h"
#include "tools/typelib/controlConstants.h"
#include "tools/typelib/failure.h"
#include "tools/typelib/textFile.h"
#include "tools/typelib/typeLibModel.h"
#include "tools/typelib/typeScript.h"

namespace {

using tlbtool::Library;

HRESULT Load(const wchar_t* file, comfw::ComPtr<ITypeLib>& lib) {
    TLBTOOL_CHECK(::LoadTypeLibEx(file, REGKIND_NONE, lib.put()), std::wstring(L"loading the library of ") + file);
    return S_OK;
}

HRESULT Read(const wchar_t* file, Library& model) {
    comfw::ComPtr<ITypeLib> lib;
    COMFW_RETURN_IF_FAILED(Load(file, lib));
    TLBTOOL_CHECK(tlbtool::ReadLibrary(lib.get(), model), std::wstring(L"reading the library of ") + file);
    return S_OK;
}

HRESULT Reference(const wchar_t* module, const wchar_t* declarations, const wchar_t* reference) {
    Library model;
    std::vector<tlbtool::ConstantDictionary> dictionaries;
    COMFW_RETURN_IF_FAILED(Read(module, model));
    COMFW_RETURN_IF_FAILED(tlbtool::ReadConstantDictionaries(module, model, dictionaries));
    COMFW_RETURN_IF_FAILED(tlbtool::WriteTextFile(declarations, tlbtool::TypeScriptDeclarations(model, dictionaries)));
    return tlbtool::WriteTextFile(reference, tlbtool::ApiReference(model, dictionaries));
}

HRESULT Declarations(const wchar_t* file, const wchar_t* declarations) {
    Library model;
    COMFW_RETURN_IF_FAILED(Read(file, model));
    return tlbtool::WriteTextFile(declarations, tlbtool::TypeScriptDeclarations(model, {}));
}

bool Is(const wchar_t* arg, const wchar_t* command) { return std::wcscmp(arg, command) == 0; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    tlbtool::ComApartment com;
    if (FAILED(com.status)) return tlbtool::Fail(com.status, L"CoInitializeEx"), 2;
    HRESULT hr = E_INVALIDARG;
    if (argc == 5 && Is(argv[1], L"reference")) hr = Reference(argv[2], argv[3], argv[4]);
    else if (argc == 4 && Is(argv[1], L"declarations")) hr = Declarations(argv[2], argv[3]);
    else {
        std::fwprintf(stderr, L"usage: tlbdocs reference MODULE OUT.d.ts OUT.md\n"
                              L"       tlbdocs declarations FILE OUT.d.ts\n");
        return 2;
    }
    return SUCCEEDED(hr) ? 0 : 1;
}

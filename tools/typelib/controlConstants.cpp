#include "tools/typelib/controlConstants.h"

#include "comfw/bstr.h"
#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/variant.h"
#include "tools/typelib/failure.h"

namespace tlbtool {
namespace {

using comfw::ComPtr;
using comfw::Variant;

const TypeEntry* Coclass(const Library& lib) {
    for (const TypeEntry& type : lib.types)
        if (type.kind == TKIND_COCLASS) return &type;
    return nullptr;
}

HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, Variant& result) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    COMFW_RETURN_IF_FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    DISPPARAMS none{};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result.put(), nullptr, nullptr);
}

// The elements of a one-dimensional SAFEARRAY of VARIANTs.
HRESULT Elements(const VARIANT& array, std::vector<Variant>& out) {
    if (array.vt != (VT_ARRAY | VT_VARIANT) || !array.parray || ::SafeArrayGetDim(array.parray) != 1)
        return DISP_E_TYPEMISMATCH;
    LONG low = 0, high = -1;
    COMFW_RETURN_IF_FAILED(::SafeArrayGetLBound(array.parray, 1, &low));
    COMFW_RETURN_IF_FAILED(::SafeArrayGetUBound(array.parray, 1, &high));
    for (LONG i = low; i <= high; ++i) {
        out.emplace_back();
        COMFW_RETURN_IF_FAILED(::SafeArrayGetElement(array.parray, &i, out.back().put()));
    }
    return S_OK;
}

HRESULT ReadDictionary(IDispatch* control, const Method& property, ConstantDictionary& out) {
    DISPPARAMS none{};
    Variant value, keys, items;
    COMFW_RETURN_IF_FAILED(control->Invoke(property.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                           value.put(), nullptr, nullptr));
    if (value.get().vt != VT_DISPATCH || !value.get().pdispVal) return DISP_E_TYPEMISMATCH;
    COMFW_RETURN_IF_FAILED(Call(value.get().pdispVal, L"Keys", DISPATCH_METHOD, keys));
    COMFW_RETURN_IF_FAILED(Call(value.get().pdispVal, L"Items", DISPATCH_METHOD, items));
    std::vector<Variant> names, numbers;
    COMFW_RETURN_IF_FAILED(Elements(keys.get(), names));
    COMFW_RETURN_IF_FAILED(Elements(items.get(), numbers));
    if (names.size() != numbers.size()) return E_UNEXPECTED;
    out.property = property.name;
    for (size_t i = 0; i < names.size(); ++i) {
        Variant number;
        if (names[i].get().vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        COMFW_RETURN_IF_FAILED(::VariantChangeType(number.put(), numbers[i].ptr(), 0, VT_I4));
        out.entries.emplace_back(comfw::TextOf(names[i].get().bstrVal), number.get().lVal);
    }
    return S_OK;
}

}  // namespace

const TypeEntry* FindType(const Library& lib, const std::wstring& name) {
    for (const TypeEntry& type : lib.types)
        if (type.name == name) return &type;
    return nullptr;
}

const TypeEntry* DefaultInterface(const Library& lib, bool source) {
    const TypeEntry* coclass = Coclass(lib);
    if (!coclass) return nullptr;
    for (const Implemented& i : coclass->implemented) {
        const bool isSource = (i.flags & IMPLTYPEFLAG_FSOURCE) != 0;
        if ((i.flags & IMPLTYPEFLAG_FDEFAULT) && isSource == source) return FindType(lib, i.name);
    }
    return nullptr;
}

bool IsDictionaryProperty(const Method& method) {
    return method.invoke == INVOKE_PROPERTYGET && ScriptParams(method).empty() &&
           ScriptResult(method).vt == VT_VARIANT && ScriptResult(method).pointers == 0;
}

const ConstantDictionary* FindDictionary(const std::vector<ConstantDictionary>& all, const std::wstring& property) {
    for (const ConstantDictionary& d : all)
        if (d.property == property) return &d;
    return nullptr;
}

HRESULT ReadConstantDictionaries(const wchar_t* module, const Library& lib, std::vector<ConstantDictionary>& out) {
    out.clear();
    const TypeEntry* coclass = Coclass(lib);
    const TypeEntry* scripting = DefaultInterface(lib, false);
    if (!coclass || !scripting) return Fail(TYPE_E_ELEMENTNOTFOUND, L"finding the library's class");
    // The module stays loaded: its objects may outlive this function, and it
    // never agrees to be unloaded anyway.
    const HMODULE loaded = ::LoadLibraryW(module);
    if (!loaded) return Fail(comfw::LastErrorHresult(), std::wstring(L"loading ") + module);
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto getClassObject = reinterpret_cast<GetClassObject>(::GetProcAddress(loaded, "DllGetClassObject"));
    if (!getClassObject) return Fail(comfw::LastErrorHresult(), L"finding DllGetClassObject");
    ComPtr<IClassFactory> factory;
    ComPtr<IDispatch> control;
    TLBTOOL_CHECK(getClassObject(coclass->guid, IID_IClassFactory, factory.put_void()), L"DllGetClassObject");
    TLBTOOL_CHECK(factory->CreateInstance(nullptr, IID_IDispatch, control.put_void()), L"creating " + coclass->name);
    for (const Method& method : scripting->methods) {
        if (!IsDictionaryProperty(method)) continue;
        out.emplace_back();
        TLBTOOL_CHECK(ReadDictionary(control.get(), method, out.back()), L"reading the dictionary " + method.name);
    }
    return S_OK;
}

}  // namespace tlbtool

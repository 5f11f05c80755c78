#include "tools/typelib/typeNames.h"

#include <cwchar>

namespace tlbtool {
namespace {

const wchar_t* BaseName(VARTYPE vt) {
    switch (vt) {
        case VT_I1: return L"CHAR";
        case VT_UI1: return L"BYTE";
        case VT_I2: return L"SHORT";
        case VT_UI2: return L"USHORT";
        case VT_I4: return L"LONG";
        case VT_UI4: return L"ULONG";
        case VT_I8: return L"LONGLONG";
        case VT_UI8: return L"ULONGLONG";
        case VT_INT: return L"INT";
        case VT_UINT: return L"UINT";
        case VT_R4: return L"FLOAT";
        case VT_R8: return L"DOUBLE";
        case VT_CY: return L"CURRENCY";
        case VT_DATE: return L"DATE";
        case VT_BSTR: return L"BSTR";
        case VT_DISPATCH: return L"IDispatch*";
        case VT_UNKNOWN: return L"IUnknown*";
        case VT_ERROR: return L"SCODE";
        case VT_BOOL: return L"VARIANT_BOOL";
        case VT_VARIANT: return L"VARIANT";
        case VT_DECIMAL: return L"DECIMAL";
        case VT_VOID: return L"void";
        case VT_HRESULT: return L"HRESULT";
        case VT_SAFEARRAY: return L"SAFEARRAY";
        case VT_LPSTR: return L"LPSTR";
        case VT_LPWSTR: return L"LPWSTR";
        default: return L"?";
    }
}

}  // namespace

std::wstring AutomationName(const TypeRef& type) {
    std::wstring name = type.vt == VT_USERDEFINED ? type.name : BaseName(type.vt);
    return name + std::wstring(type.pointers, L'*');
}

std::wstring ScriptTypeName(const TypeRef& type) {
    switch (type.vt) {
        case VT_EMPTY:
        case VT_VOID:
        case VT_HRESULT: return L"void";
        case VT_BSTR:
        case VT_LPSTR:
        case VT_LPWSTR: return L"string";
        case VT_BOOL: return L"boolean";
        case VT_DATE: return L"VarDate";
        case VT_SAFEARRAY: return L"SafeArray";
        case VT_USERDEFINED:
            // Enums by their numbers' type, interfaces and classes by name.
            return type.kind == TKIND_ALIAS || type.kind == TKIND_RECORD || type.kind == TKIND_UNION ? L"any"
                                                                                                    : type.name;
        case VT_VARIANT:
        case VT_DISPATCH:
        case VT_UNKNOWN: return L"any";
        default: return L"number";
    }
}

std::wstring DispidText(MEMBERID id) {
    if (id >= 0 && id < 0x10000) return std::to_wstring(id);
    wchar_t hex[16];
    std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(id));
    return hex;
}

std::wstring DecimalAndHex(LONG value) {
    if (value >= 0 && value < 0x10000) return std::to_wstring(value);
    wchar_t hex[16];
    std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(value));
    return std::to_wstring(value) + L" (" + hex + L")";
}

}  // namespace tlbtool

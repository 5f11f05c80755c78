// The contents of a type library as plain values: one walk of ITypeLib and
// ITypeInfo that the generators of declarations and reference (and the tests)
// read, instead of each walking the platform's descriptions on its own.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace tlbtool {

// A type as a member declares it: an automation type, or a type of the
// library by name, behind zero or more pointers.
struct TypeRef {
    VARTYPE vt = VT_EMPTY;  // VT_USERDEFINED for a type of the library
    std::wstring name;      // that type's name
    TYPEKIND kind = TKIND_MAX;
    int pointers = 0;
};

struct Param {
    std::wstring name;
    TypeRef type;
    USHORT flags = 0;  // PARAMFLAG_*
};

struct Method {
    MEMBERID id = MEMBERID_NIL;
    std::wstring name;
    std::wstring help;
    INVOKEKIND invoke = INVOKE_FUNC;
    FUNCKIND funcKind = FUNC_DISPATCH;
    int slot = -1;  // vtable slot, -1 for a dispatch-only member
    WORD flags = 0;  // FUNCFLAG_*
    bool vararg = false;  // the last parameter takes the rest of the arguments
    TypeRef returns;
    std::vector<Param> params;
};

struct Constant {
    MEMBERID id = MEMBERID_NIL;
    std::wstring name;
    std::wstring help;
    LONG value = 0;
};

struct Implemented {
    std::wstring name;
    INT flags = 0;  // IMPLTYPEFLAG_*
};

struct TypeEntry {
    TYPEKIND kind = TKIND_MAX;  // a dual interface is TKIND_DISPATCH with dual set
    bool dual = false;
    std::wstring name;
    std::wstring help;
    GUID guid{};
    WORD flags = 0;  // TYPEFLAG_* of the dispatch half for a dual interface
    std::vector<Implemented> implemented;
    std::vector<Method> methods;  // a dual interface's from its vtable half
    std::vector<Constant> constants;
};

struct Library {
    std::wstring name;
    std::wstring help;
    GUID guid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
    std::vector<TypeEntry> types;  // in the library's order
};

HRESULT ReadLibrary(ITypeLib* lib, Library& out);

// The script's view of a method: its parameters without the out,retval one,
// and the type it answers (that parameter's, a dispatch member's own return
// type, or VT_EMPTY for none).
std::vector<Param> ScriptParams(const Method& method);
TypeRef ScriptResult(const Method& method);

}  // namespace tlbtool

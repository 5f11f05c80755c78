#include "tools/typelib/apiReference.h"

#include <cwctype>

#include "tools/typelib/typeNames.h"

namespace tlbtool {
namespace {

std::wstring Guid(const GUID& guid) {
    wchar_t text[40];
    ::StringFromGUID2(guid, text, 40);
    return text;
}

// Table cells hold no line breaks or bars.
std::wstring Cell(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'\n' || c == L'\r') c = L' ';
    for (size_t at = text.find(L'|'); at != std::wstring::npos; at = text.find(L'|', at + 2)) text.replace(at, 1, L"\\|");
    return text;
}

std::wstring Code(const std::wstring& text) { return L"`" + text + L"`"; }

// A link to a heading, by the anchor a Markdown renderer gives it.
std::wstring Link(const std::wstring& text, std::wstring heading) {
    for (wchar_t& c : heading) c = c == L' ' ? L'-' : static_cast<wchar_t>(::towlower(c));
    return L"[" + text + L"](#" + heading + L")";
}

// "`startup(modes: UINT, messageMode: ZOVA_MessageMode, ...)`"
std::wstring Call(const Method& m) {
    std::wstring text = m.name + L"(";
    const std::vector<Param> params = ScriptParams(m);
    for (size_t i = 0; i < params.size(); ++i) {
        const bool optional = (params[i].flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0;
        text += (i ? L", " : L"") + std::wstring(m.vararg && i + 1 == params.size() ? L"..." : L"") +
                params[i].name + (optional ? L"?" : L"") + L": " + AutomationName(params[i].type);
    }
    return Code(text + L")");
}

// "`BSTR` (string)", "`ZOVA_GrabState` (number)", "`IVirtualDeviceDetails*`".
std::wstring TypeText(const TypeRef& type) {
    const std::wstring script = type.vt == VT_USERDEFINED && type.kind == TKIND_ENUM ? L"number" : ScriptTypeName(type);
    if (type.vt == VT_USERDEFINED && script == type.name) return Code(AutomationName(type));
    return Code(AutomationName(type)) + L" (" + script + L")";
}

std::wstring Result(const Method& m) {
    const TypeRef result = ScriptResult(m);
    return result.vt == VT_EMPTY ? L"" : TypeText(result);
}

bool IsProperty(const Method& m) { return m.invoke != INVOKE_FUNC && ScriptParams(m).size() <= 1; }

std::wstring Members(const TypeEntry& type, const std::vector<ConstantDictionary>& dictionaries) {
    std::wstring methods, properties;
    for (const Method& m : type.methods) {
        const std::wstring id = DispidText(m.id);
        if (!IsProperty(m)) {
            methods += L"| " + Call(m) + L" | " + id + L" | " + Result(m) + L" | " + Cell(m.help) + L" |\n";
            continue;
        }
        const wchar_t* access = m.invoke == INVOKE_PROPERTYGET ? L"read" : L"write";
        const TypeRef value = m.invoke == INVOKE_PROPERTYGET ? ScriptResult(m) : ScriptParams(m)[0].type;
        std::wstring typeText = TypeText(value);
        if (FindDictionary(dictionaries, m.name)) typeText = Link(L"constant dictionary", m.name + L" dictionary");
        properties += L"| " + Code(m.name) + L" | " + id + L" | " + access + L" | " + typeText + L" | " + Cell(m.help) +
                      L" |\n";
    }
    std::wstring text;
    if (!methods.empty())
        text += L"\n| method | dispid | result | description |\n|---|---|---|---|\n" + methods;
    if (!properties.empty())
        text += L"\n| property | dispid | access | type | description |\n|---|---|---|---|---|\n" + properties;
    return text;
}

std::wstring Events(const TypeEntry& type) {
    std::wstring text = L"\n| event | dispid | arguments | description |\n|---|---|---|---|\n";
    for (const Method& m : type.methods) {
        std::wstring args;
        for (const Param& p : m.params)
            args += (args.empty() ? L"" : L", ") + p.name + L": " + TypeText(p.type);
        text += L"| " + Code(m.name) + L" | " + DispidText(m.id) + L" | " + (args.empty() ? L"none" : Cell(args)) +
                L" | " + Cell(m.help) + L" |\n";
    }
    return text;
}

std::wstring Enum(const TypeEntry& type) {
    std::wstring text = L"\n### " + type.name + L"\n\n";
    if (!type.help.empty()) text += type.help + L"\n\n";
    text += L"| constant | value | description |\n|---|---|---|\n";
    for (const Constant& c : type.constants)
        text += L"| " + Code(c.name) + L" | " + DecimalAndHex(c.value) + L" | " + Cell(c.help) + L" |\n";
    return text;
}

std::wstring Dictionary(const TypeEntry* scripting, const ConstantDictionary& d) {
    std::wstring text = L"\n### " + d.property + L" dictionary\n\n";
    if (scripting)
        for (const Method& m : scripting->methods)
            if (m.name == d.property && !m.help.empty()) text += m.help + L".\n\n";
    text += L"| key | value |\n|---|---|\n";
    for (const auto& entry : d.entries) text += L"| " + Code(entry.first) + L" | " + DecimalAndHex(entry.second) + L" |\n";
    return text;
}

}  // namespace

std::wstring ApiReference(const Library& lib, const std::vector<ConstantDictionary>& dictionaries) {
    const std::wstring version = std::to_wstring(lib.major) + L"." + std::to_wstring(lib.minor);
    std::wstring text = L"# " + lib.name + L" " + version + L": scripting reference\n\n";
    if (!lib.help.empty()) text += lib.help + L", library id " + Code(Guid(lib.guid)) + L", locale " +
                                   std::to_wstring(lib.lcid) + L".\n\n";
    text += L"Generated by the build from the type library the control embeds and registers (`tools/typelib`);\n"
            L"do not edit: a test compares this file with what the build writes.\n\n"
            L"Types are given as the library declares them, with the script's type in brackets. A call\n"
            L"that fails throws; the error's `number` is the failing status as a negative decimal\n"
            L"(status 0x80004005, `E_FAIL`, reads as -2147467259).\n";
    const TypeEntry* scripting = DefaultInterface(lib, false);
    const TypeEntry* events = DefaultInterface(lib, true);
    std::wstring enums;
    for (const TypeEntry& type : lib.types) {
        switch (type.kind) {
            case TKIND_COCLASS: {
                text += L"\n## " + type.name + L" (class)\n\n" + (type.help.empty() ? L"" : type.help + L"\n\n") +
                        L"Class id " + Code(Guid(type.guid)) + L".\n\n";
                for (const Implemented& i : type.implemented)
                    text += L"- " + std::wstring((i.flags & IMPLTYPEFLAG_FSOURCE) ? L"events: " : L"interface: ") +
                            Link(i.name, i.name) +
                            ((i.flags & IMPLTYPEFLAG_FDEFAULT) ? L" (default)" : L"") + L"\n";
                break;
            }
            case TKIND_DISPATCH:
            case TKIND_INTERFACE:
                text += L"\n## " + type.name + L"\n\n" + (type.help.empty() ? L"" : type.help + L". ");
                if (&type == events) {
                    text += L"The events a page handles; each handler gets these arguments and returns nothing.\n" +
                            Events(type);
                } else {
                    text += std::wstring(type.dual ? L"Dual interface " : L"Interface ") + Code(Guid(type.guid)) +
                            L".\n" + Members(type, dictionaries);
                }
                break;
            case TKIND_ENUM: enums += Enum(type); break;
            default: break;
        }
    }
    if (!enums.empty()) text += L"\n## Enumerations\n" + enums;
    if (dictionaries.empty()) return text;
    text += L"\n## Constant dictionaries\n\nEach of these properties of " +
            (scripting ? Code(scripting->name) : std::wstring(L"the control")) +
            L" answers a new `Scripting.Dictionary` of constant names to numbers,\n"
            L"in this order (`new VBArray(d.Keys()).toArray()`). Reading a name the dictionary does not\n"
            L"hold answers `undefined` and adds the name: check with `d.Exists(name)`.\n";
    for (const ConstantDictionary& d : dictionaries) text += Dictionary(scripting, d);
    return text;
}

}  // namespace tlbtool

#include "tools/typelib/typeScript.h"

#include <set>

#include "tools/typelib/typeNames.h"

namespace tlbtool {
namespace {

const std::set<std::wstring> kReserved = {
    L"break", L"case", L"catch", L"class", L"const", L"continue", L"debugger", L"default", L"delete", L"do",
    L"else", L"enum", L"export", L"extends", L"false", L"finally", L"for", L"function", L"if", L"import", L"in",
    L"instanceof", L"new", L"null", L"return", L"super", L"switch", L"this", L"throw", L"true", L"try",
    L"typeof", L"var", L"void", L"while", L"with"};

std::wstring ParamName(const std::wstring& name, size_t index) {
    if (name.empty()) return L"arg" + std::to_wstring(index);
    return kReserved.count(name) ? name + L"_" : name;
}

// A doc comment; "*/" in a help string cannot end it early.
std::wstring Doc(const std::wstring& indent, const std::vector<std::wstring>& lines) {
    std::vector<std::wstring> safe;
    for (std::wstring line : lines) {
        for (size_t at = line.find(L"*/"); at != std::wstring::npos; at = line.find(L"*/", at)) line.replace(at, 2, L"* /");
        if (!line.empty()) safe.push_back(line);
    }
    if (safe.empty()) return L"";
    if (safe.size() == 1) return indent + L"/** " + safe[0] + L" */\n";
    std::wstring text = indent + L"/**\n";
    for (const std::wstring& line : safe) text += indent + L" * " + line + L"\n";
    return text + indent + L" */\n";
}

std::wstring WithId(const std::wstring& help, MEMBERID id) {
    const std::wstring tag = L"(dispid " + DispidText(id) + L")";
    return help.empty() ? tag : help + L" " + tag;
}

std::wstring DictionaryType(const std::wstring& property) { return property + L"Dictionary"; }

// The help string of a constant of the library's enums, by name.
std::wstring ConstantHelp(const Library& lib, const std::wstring& name) {
    for (const TypeEntry& type : lib.types)
        for (const Constant& c : type.constants)
            if (c.name == name) return c.help;
    return L"";
}

std::wstring Enum(const TypeEntry& type) {
    std::vector<std::wstring> doc{type.help.empty() ? type.name : type.help};
    std::wstring values;
    for (const Constant& c : type.constants) {
        doc.push_back(L"- " + c.name + L" = " + std::to_wstring(c.value) + (c.help.empty() ? L"" : L": " + c.help));
        values += (values.empty() ? L"" : L" | ") + std::to_wstring(c.value);
    }
    return Doc(L"", doc) + L"type " + type.name + L" = " + (values.empty() ? L"never" : values) + L";\n";
}

std::wstring Signature(const Method& m) {
    const std::vector<Param> params = ScriptParams(m);
    std::wstring text = m.name + L"(";
    for (size_t i = 0; i < params.size(); ++i) {
        const Param& p = params[i];
        if (i) text += L", ";
        if (m.vararg && i + 1 == params.size()) {
            text += L"..." + ParamName(p.name, i) + L": any[]";
            continue;
        }
        const bool optional = (p.flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0;
        text += ParamName(p.name, i) + (optional ? L"?: " : L": ") + ScriptTypeName(p.type);
    }
    return text + L"): " + ScriptTypeName(ScriptResult(m)) + L";\n";
}

std::wstring Interface(const TypeEntry& type, const std::vector<ConstantDictionary>& dictionaries) {
    std::set<std::wstring> settable;
    for (const Method& m : type.methods)
        if (m.invoke == INVOKE_PROPERTYPUT || m.invoke == INVOKE_PROPERTYPUTREF) settable.insert(m.name);
    std::wstring text = Doc(L"", {type.help}) + L"interface " + type.name + L" {\n";
    std::set<std::wstring> declared;
    for (const Method& m : type.methods) {
        const bool property = m.invoke != INVOKE_FUNC && ScriptParams(m).size() == (m.invoke == INVOKE_PROPERTYGET ? 0 : 1);
        if (!property) {
            text += Doc(L"    ", {WithId(m.help, m.id)}) + L"    " + Signature(m);
            continue;
        }
        if (!declared.insert(m.name).second) continue;  // a property's get and put are one declaration
        const TypeRef valueType = m.invoke == INVOKE_PROPERTYGET ? ScriptResult(m) : ScriptParams(m)[0].type;
        const std::wstring typeName =
            FindDictionary(dictionaries, m.name) ? DictionaryType(m.name) : ScriptTypeName(valueType);
        text += Doc(L"    ", {WithId(m.help, m.id)}) + L"    " + (settable.count(m.name) ? L"" : L"readonly ") +
                m.name + L": " + typeName + L";\n";
    }
    return text + L"}\n";
}

std::wstring Class(const TypeEntry& type) {
    std::wstring base, events;
    for (const Implemented& i : type.implemented) {
        if (!(i.flags & IMPLTYPEFLAG_FDEFAULT)) continue;
        ((i.flags & IMPLTYPEFLAG_FSOURCE) ? events : base) = i.name;
    }
    std::vector<std::wstring> doc{type.help};
    if (!events.empty()) doc.push_back(L"Its events are the handlers of " + events + L".");
    return Doc(L"", doc) + L"interface " + type.name + (base.empty() ? L"" : L" extends " + base) + L" {}\n";
}

std::wstring Dictionary(const Library& lib, const TypeEntry* scripting, const ConstantDictionary& d) {
    std::wstring help;
    if (scripting)
        for (const Method& m : scripting->methods)
            if (m.name == d.property && !m.help.empty()) help = m.help + L": ";
    const std::wstring names = d.property + L"Name";
    std::wstring union_;
    for (const auto& entry : d.entries) union_ += (union_.empty() ? L"\"" : L" | \"") + entry.first + L"\"";
    std::wstring text = Doc(L"", {help + L"the names the control's " + d.property + L" dictionary holds."}) +
                        L"type " + names + L" = " + (union_.empty() ? L"never" : union_) + L";\n";
    text += Doc(L"", {help + L"what the control's " + d.property + L" property answers."}) + L"interface " +
            DictionaryType(d.property) + L" extends ConstantDictionary<" + names + L"> {\n";
    for (const auto& entry : d.entries)
        text += Doc(L"    ", {ConstantHelp(lib, entry.first)}) + L"    Item(key: \"" + entry.first +
                L"\"): " + std::to_wstring(entry.second) + L";\n";
    return text + L"    Item(key: " + names + L"): number;\n}\n";
}

const wchar_t kDictionaryBase[] =
    L"/**\n"
    L" * A constant dictionary of the control (a Scripting.Dictionary): constant\n"
    L" * names to their numbers. Item of a name it does not hold answers undefined\n"
    L" * and adds that name: ask Exists first when the name comes from elsewhere.\n"
    L" */\n"
    L"interface ConstantDictionary<Name extends string> {\n"
    L"    readonly Count: number;\n"
    L"    Exists(key: string): boolean;\n"
    L"    Item(key: Name): number;\n"
    L"    /** The names: new VBArray(dictionary.Keys()).toArray() */\n"
    L"    Keys(): SafeArray<Name>;\n"
    L"    /** The numbers, in the names' order. */\n"
    L"    Items(): SafeArray<number>;\n"
    L"}\n";

}  // namespace

std::wstring TypeScriptDeclarations(const Library& lib, const std::vector<ConstantDictionary>& dictionaries) {
    std::wstring text = L"// " + lib.name + L" " + std::to_wstring(lib.major) + L"." + std::to_wstring(lib.minor) +
                        (lib.help.empty() ? L"" : L": " + lib.help) +
                        L".\n// Declarations for page script, generated from the type library by the build\n"
                        L"// (tools/typelib); do not edit.\n/// <reference lib=\"scripthost\" />\n";
    for (const TypeEntry& type : lib.types) {
        text += L"\n";
        switch (type.kind) {
            case TKIND_ENUM: text += Enum(type); break;
            case TKIND_COCLASS: text += Class(type); break;
            case TKIND_INTERFACE:
            case TKIND_DISPATCH: text += Interface(type, dictionaries); break;
            default: text += L"type " + type.name + L" = any;\n"; break;
        }
    }
    if (dictionaries.empty()) return text;
    text += L"\n" + std::wstring(kDictionaryBase);
    const TypeEntry* scripting = DefaultInterface(lib, false);
    for (const ConstantDictionary& d : dictionaries) text += L"\n" + Dictionary(lib, scripting, d);
    return text;
}

}  // namespace tlbtool

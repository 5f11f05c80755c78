// The control's constant dictionaries as a live control answers them: the
// type library says only that each ZOVA_* property returns a VARIANT, so the
// names and numbers a page reads come from the control itself.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/typelib/typeLibModel.h"

namespace tlbtool {

struct ConstantDictionary {
    std::wstring property;
    std::vector<std::pair<std::wstring, LONG>> entries;  // in the order the page enumerates them
};

// Creates the library's creatable class from module (its DllGetClassObject)
// and reads every property of the default interface that takes no argument
// and returns a VARIANT: each must be a dictionary.
HRESULT ReadConstantDictionaries(const wchar_t* module, const Library& lib, std::vector<ConstantDictionary>& out);

// The dictionary of a property, or null.
const ConstantDictionary* FindDictionary(const std::vector<ConstantDictionary>& all, const std::wstring& property);

// The default interface of the library's first coclass, and its default
// source (events) interface; null when there is none.
const TypeEntry* DefaultInterface(const Library& lib, bool source);
const TypeEntry* FindType(const Library& lib, const std::wstring& name);

// A property that answers a constant dictionary.
bool IsDictionaryProperty(const Method& method);

}  // namespace tlbtool

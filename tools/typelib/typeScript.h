// TypeScript declarations of a type library, for page script that tsc checks
// (--allowJs --checkJs): each enum as the union of its numbers, each
// interface with its methods and properties as script calls them, each
// dispinterface as the handlers a page binds, each class as its default
// interface, and each constant dictionary with its names and numbers.
#pragma once

#include <string>
#include <vector>

#include "tools/typelib/controlConstants.h"
#include "tools/typelib/typeLibModel.h"

namespace tlbtool {

std::wstring TypeScriptDeclarations(const Library& lib, const std::vector<ConstantDictionary>& dictionaries);

}  // namespace tlbtool

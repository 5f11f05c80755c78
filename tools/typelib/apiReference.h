// The scripting reference (docs/api.md) of a type library: its classes,
// interfaces with their methods and properties, events, enums and constant
// dictionaries, with help strings, dispids and types as the library and the
// live control give them.
#pragma once

#include <string>
#include <vector>

#include "tools/typelib/controlConstants.h"
#include "tools/typelib/typeLibModel.h"

namespace tlbtool {

std::wstring ApiReference(const Library& lib, const std::vector<ConstantDictionary>& dictionaries);

}  // namespace tlbtool

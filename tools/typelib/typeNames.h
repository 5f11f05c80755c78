// How the reference and the declarations name a member's type: its
// automation name (BSTR, UINT, an enum's name) and its script type.
#pragma once

#include <string>

#include "tools/typelib/typeLibModel.h"

namespace tlbtool {

// "BSTR", "VARIANT_BOOL", "UINT", "ZOVA_GrabState", "IVirtualDeviceDetails*".
std::wstring AutomationName(const TypeRef& type);

// The TypeScript type a page script handles: "string", "boolean", "number",
// an enum's or an interface's name, "any" for a VARIANT or IDispatch, "void".
std::wstring ScriptTypeName(const TypeRef& type);

// A dispid as the reference writes it: decimal, or hex from 0x10000 on.
std::wstring DispidText(MEMBERID id);

// The number as script shows a failing status or a large constant:
// "-2147467259 (0x80004005)"; small non-negative numbers stay plain.
std::wstring DecimalAndHex(LONG value);

}  // namespace tlbtool

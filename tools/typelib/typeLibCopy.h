// Rewrites a type library through the platform's type-library writer
// (ICreateTypeLib2), with what the IDL compiler cannot write itself: the help
// strings of enum members. widl refuses helpstring on an enum member but
// keeps custom data there, so the IDL gives each member's help string as
// custom data of one GUID, and the copy makes it the member's help string.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace tlbtool {

// Writes a copy of source to path: the same library, types, members, ids,
// flags and help, in the same order; a string custom datum of memberHelp on
// an enum member becomes that member's help string and is not copied.
HRESULT CopyWithMemberHelp(ITypeLib* source, REFGUID memberHelp, const wchar_t* path);

}  // namespace tlbtool

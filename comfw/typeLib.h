// Type information from the TYPELIB 1 resource of the module this code is
// linked into. Loaded once per process and kept for its whole life.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace comfw {

// The module's own type library, or a failure status. No reference is added.
HRESULT ModuleTypeLib(ITypeLib** lib) noexcept;

// The type information of one interface or class of the module's library, with
// an added reference for the caller.
HRESULT ModuleTypeInfo(REFGUID guid, ITypeInfo** info) noexcept;

}  // namespace comfw

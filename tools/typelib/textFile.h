// Writes generated text as UTF-8 with LF line ends, the form the repository
// keeps it in.
#pragma once

#include <windows.h>

#include <string>

namespace tlbtool {

HRESULT WriteTextFile(const wchar_t* path, const std::wstring& text);

}  // namespace tlbtool

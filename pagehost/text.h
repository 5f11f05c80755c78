// Text helpers of the page host's messages and output.
#pragma once

#include <windows.h>
#include <string>

namespace pagehost {

std::string Utf8(const std::wstring& text);
std::wstring Lower(std::wstring text);
// An HRESULT as messages show it: 0x and eight lower-case hex digits.
std::wstring Hex(HRESULT hr);

}  // namespace pagehost

// Error information for page script. Every call of the scripting interface
// that fails leaves a fresh error object on the thread (interface, source
// "Velmora.RemoteConsole" and a description that says what failed and what
// the page can do); every call that succeeds leaves none. Script engines
// show the description as the error's `description`/`message`; the status
// the page sees is the method's own.
#pragma once

#include <windows.h>
#include <string>

namespace zova {

// "<method>: <why>", where `why` (when empty) is told from the status.
std::wstring DescribeFailure(const wchar_t* method, HRESULT hr, const std::wstring& why);

// Sets the thread's error object for a failed `method`, or clears it for a
// success; returns `hr` unchanged.
HRESULT AnswerScript(const wchar_t* method, HRESULT hr, const std::wstring& why) noexcept;

}  // namespace zova

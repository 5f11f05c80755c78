// The folder of this test program, with its trailing backslash: the build's
// bin folder, where every program and module of the build lies.
#pragma once

#include <windows.h>
#include <string>

inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const std::wstring self(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return self.substr(0, self.find_last_of(L"\\/") + 1);
}

// This program's folder, with its trailing backslash: the build's bin folder, holding all its programs and modules.
#pragma once

#include <windows.h>
#include <string>

inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const std::wstring self(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return self.substr(0, self.find_last_of(L"\\/") + 1);
}

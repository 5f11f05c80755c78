// A PNG of the first dialog box that the page's thread shows, taken from
// inside this process (under the null graphics driver no other process can
// read a window's pixels): the dialog's client area, then each of its
// controls, printed into memory.
#pragma once

#include <string>

namespace pagehost {

// Watches this thread's windows from now on and saves the first visible
// dialog box to `path` about 300 ms after it appears (its modal loop
// dispatches the watch's timer too). Writes a line to standard error when the
// picture cannot be saved.
void WatchForDialog(const std::wstring& path) noexcept;

}  // namespace pagehost

// The console process link: starting a console process and waiting for it,
// finding and binding its object in the running object table, keeping its
// window fitted to the control, and tearing the link down.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <string>

#include "comfw/comPtr.h"

namespace zova {

// --- Launch (startup) -------------------------------------------------------

// Starts a console process for `instanceId`, binds its object, has it create a
// VM control inside `parent` covering `rect` and advises `sink` on it. On
// success both references go to the caller; on failure nothing is left held
// (the started process is not stopped).
HRESULT StartConsoleAndCreateControl(const std::wstring& instanceId, UINT modes, int messageMode,
                                     uint32_t features, HWND parent, const RECT& rect, IDispatch* sink,
                                     comfw::ComPtr<IDispatch>& consoleProcess,
                                     comfw::ComPtr<IDispatch>& vmControl) noexcept;

HRESULT StartConsoleProcess(const std::wstring& instanceId, UINT modes, int messageMode, uint32_t features,
                            comfw::ComPtr<IDispatch>& consoleProcess) noexcept;

// The console executable beside this module, or empty when it cannot be told.
std::wstring GetConsoleExecutablePath();

std::wstring BuildConsoleCommandLine(const std::wstring& executable, const std::wstring& instanceId, UINT modes,
                                     int messageMode, uint32_t features);

HRESULT LaunchAndWaitForMoniker(const std::wstring& monikerName, const std::wstring& eventName,
                                const std::wstring& executable, const std::wstring& commandLine,
                                comfw::ComPtr<IDispatch>& consoleProcess) noexcept;

// The time-out of each wait for the ready event; 180000 ms as shipped. Tests
// shorten it in-process; nothing outside the process can change it.
DWORD ConsoleWaitTimeoutMs() noexcept;
void SetConsoleWaitTimeoutMsForTesting(DWORD ms) noexcept;

// --- Binding (attach) ---------------------------------------------------------

// The running object with display name `monikerName`: S_OK and the moniker,
// S_FALSE and none when absent, or the failure reading the table.
HRESULT GetMoniker(const std::wstring& monikerName, comfw::ComPtr<IMoniker>& moniker) noexcept;

HRESULT BindToConsoleObject(const std::wstring& monikerName, comfw::ComPtr<IDispatch>& consoleProcess) noexcept;

HRESULT AttachToConsoleProcess(const std::wstring& instanceId, comfw::ComPtr<IDispatch>& consoleProcess) noexcept;

HRESULT AttachConsoleAndControl(const std::wstring& instanceId, HWND window, const RECT& rect, IDispatch* sink,
                                comfw::ComPtr<IDispatch>& consoleProcess,
                                comfw::ComPtr<IDispatch>& vmControl) noexcept;

// --- Window fitting and teardown -------------------------------------------------

// Fits the console window to the client area of `window`.
void ResizeVMWindow(HWND window, IDispatch* vmControl) noexcept;

// Unadvise, Delete (failures reported and passed over), then both references
// are released and cleared. Cannot fail.
void TeardownVMControl(comfw::ComPtr<IDispatch>& consoleProcess, comfw::ComPtr<IDispatch>& vmControl) noexcept;

}  // namespace zova

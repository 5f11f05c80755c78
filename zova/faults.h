// Fault switches for tests, read from the environment variable
// ZOVA_CONSOLE_FAULTS by the console process alone (the control never reads
// it). The value is a list of items separated by ';' (blanks around items are
// ignored, empty items too):
//
//   no-ready              register, but never set the ready event
//   no-register           set the ready event without registering in the ROT
//   ready-delay=<ms>      wait <ms> milliseconds before setting the ready event
//   any-client-refused    the running object table refuses a registration
//                         open to any client, as Windows does for a program
//                         without an AppID RunAs entry
//   idle-ms=<ms>          idle limit: end after <ms> milliseconds with no VM
//                         control attached (default 180000)
//   fail=<dispid>:<hr>    operation <dispid> returns <hr> and does nothing
//   wrong-type=<dispid>[:<vt>]
//                         operation <dispid> runs, then answers a result of
//                         variant type <vt> instead of its own (default 8,
//                         VT_BSTR; also 0 EMPTY, 2 I2, 3 I4, 11 BOOL, 19 UI4,
//                         22 INT); its real result is dropped
//   exit=<dispid>[:<code>] the process exits with <code> (default 3) as soon
//                         as operation <dispid> is called
//
// Dispids name operations of either object (0, 1, 3: console process object;
// 101 and up: VM control). Numbers are decimal, or hexadecimal with 0x (an
// HRESULT such as 0x80070057 may be written either way, negative decimal
// too). Several fail/wrong-type/exit items may be given; for one dispid exit
// wins over fail, and fail over wrong-type. An unknown item or a malformed
// number makes the console refuse to start.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <map>
#include <string>

namespace zova::console {

struct Faults {
    bool noReady = false;
    bool noRegister = false;
    bool anyClientRefused = false;
    DWORD readyDelayMs = 0;
    DWORD idleLimitMs = 180000;
    std::map<DISPID, HRESULT> fail;
    std::map<DISPID, VARTYPE> wrongType;
    std::map<DISPID, UINT> exitCode;
};

// Parses a fault list; on failure `error` says which item is wrong.
bool ParseFaults(const std::wstring& items, Faults& out, std::wstring& error);

// The faults of this process, read once from ZOVA_CONSOLE_FAULTS by Init.
const Faults& ActiveFaults() noexcept;
bool InitActiveFaults(std::wstring& error);

}  // namespace zova::console

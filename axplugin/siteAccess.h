// The site access check's confirmation dialog (dialog resource 101).
#pragma once

#define IDD_SITE_ACCESS 101
#define IDC_SITE_PROTOCOL 1001
#define IDC_SITE_HOSTNAME 1002
#define IDC_SITE_PORT 1003
#define IDC_SITE_ALWAYS_ASK 1004

#ifndef RC_INVOKED
#include <windows.h>

#include <string>
#include <utility>

namespace zova {

// A modal dialog that shows a site and asks whether it may reach the
// operating system; it denies by itself after ten seconds. Ends with IDOK
// (1) for Allow, IDCANCEL (2) for Deny, Esc, the close box or the countdown.
class ConfirmDlg {
public:
    ConfirmDlg(std::wstring protocol, std::wstring hostname, std::wstring port, bool& remember) noexcept
        : protocol_(std::move(protocol)), hostname_(std::move(hostname)), port_(std::move(port)),
          remember_(remember) {}
    // DialogBoxParam's result: 1, 2, or another value when the dialog could not be shown.
    INT_PTR DoModal(HWND owner) noexcept;

private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    INT_PTR Handle(HWND dialog, UINT msg, WPARAM wp) noexcept;
    void UpdateDenyCaption(HWND dialog) noexcept;
    void End(HWND dialog, INT_PTR result, bool remember) noexcept;

    std::wstring protocol_, hostname_, port_;  // display forms
    bool& remember_;                           // true only for Allow with the box cleared
    int secondsLeft_ = 10;
    std::wstring denyFormat_;  // the Deny caption as the resource gives it, with its %d
    UINT_PTR timer_ = 0;
};

// Shows the dialog owned by the thread's active window; true when the user
// allowed. `remember` says whether the allow is to be kept for good.
bool ConfirmSiteAccess(const std::wstring& protocol, const std::wstring& hostname, const std::wstring& port,
                       bool& remember) noexcept;

}  // namespace zova
#endif

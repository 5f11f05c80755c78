// The site access check: a site passes when it was allowed in this process or
// remembered in the settings file; any other site is asked in the dialog.
#include "axplugin/siteAccess.h"

#include <cwchar>

#include "axplugin/pageOrigin.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/hresult.h"
#include "comfw/module.h"
#include "plugin-common/settings.h"

namespace zova {

INT_PTR ConfirmDlg::DoModal(HWND owner) noexcept {
    return ::DialogBoxParamW(comfw::Module::Handle(), MAKEINTRESOURCEW(IDD_SITE_ACCESS), owner, &ConfirmDlg::Proc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK ConfirmDlg::Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lp);
    auto* self = reinterpret_cast<ConfirmDlg*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    return self ? self->Handle(dialog, msg, wp) : FALSE;
}

INT_PTR ConfirmDlg::Handle(HWND dialog, UINT msg, WPARAM wp) noexcept {
    switch (msg) {
        case WM_INITDIALOG: {
            ::SetDlgItemTextW(dialog, IDC_SITE_PROTOCOL, protocol_.c_str());
            ::SetDlgItemTextW(dialog, IDC_SITE_HOSTNAME, hostname_.c_str());
            ::SetDlgItemTextW(dialog, IDC_SITE_PORT, port_.c_str());
            ::CheckDlgButton(dialog, IDC_SITE_ALWAYS_ASK, BST_CHECKED);
            HWND deny = ::GetDlgItem(dialog, IDCANCEL);
            wchar_t caption[256] = {};
            ::GetWindowTextW(deny, caption, 256);
            try {
                denyFormat_ = caption;
            } catch (...) {
                denyFormat_.clear();  // the caption then stays as the resource gives it
            }
            secondsLeft_ = 10;
            timer_ = ::SetTimer(dialog, 0, 1000, nullptr);
            UpdateDenyCaption(dialog);
            ::PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(deny), TRUE);
            return TRUE;
        }
        case WM_TIMER:
            if (--secondsLeft_ < 1) End(dialog, IDCANCEL, false);
            else UpdateDenyCaption(dialog);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                End(dialog, IDOK, ::IsDlgButtonChecked(dialog, IDC_SITE_ALWAYS_ASK) != BST_CHECKED);
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                End(dialog, IDCANCEL, false);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void ConfirmDlg::UpdateDenyCaption(HWND dialog) noexcept {
    if (denyFormat_.empty()) return;
    wchar_t caption[256] = {};
    std::swprintf(caption, 256, denyFormat_.c_str(), secondsLeft_);
    ::SetDlgItemTextW(dialog, IDCANCEL, caption);
}

void ConfirmDlg::End(HWND dialog, INT_PTR result, bool remember) noexcept {
    remember_ = remember;
    ::EndDialog(dialog, result);  // the timer goes with the window
}

bool ConfirmSiteAccess(const std::wstring& protocol, const std::wstring& hostname, const std::wstring& port,
                       bool& remember) noexcept {
    try {
        ConfirmDlg dialog(protocol, hostname, port, remember);
        return dialog.DoModal(::GetActiveWindow()) == IDOK;
    } catch (...) {
        comfw::ResultFromCaughtException(__FILE__, __LINE__, __func__);
        return false;
    }
}

bool ZOVAEmbeddedCtl::GetPageOrigin(std::wstring& protocol, std::wstring& hostname, std::wstring& port) noexcept {
    return SUCCEEDED(ReadPageOrigin(client_site(), protocol, hostname, port));
}

bool ZOVAEmbeddedCtl::CheckSiteAccess() noexcept {
    try {
        std::wstring protocol, hostname, port;
        if (!GetPageOrigin(protocol, hostname, port)) return false;  // reported where it failed
        const std::string key = Utf8(MakeOriginKey(protocol, hostname, port));
        PluginSettings& settings = PluginSettings::Instance();
        if (settings.IsSiteAllowed(key)) return true;
        NormalizeOriginForDisplay(protocol, hostname, port);
        bool remember = false;
        if (!ConfirmSiteAccess(protocol, hostname, port, remember)) return false;
        settings.AllowSite(key, remember);
        return true;
    } catch (...) {
        comfw::ResultFromCaughtException(__FILE__, __LINE__, __func__);
        return false;
    }
}

}  // namespace zova

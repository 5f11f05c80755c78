// The user's proxy settings are read and digested once per module load (safe
// when controls on several threads resolve at once); automatic detection and
// auto-configuration scripts are evaluated again on every call.
#include "axplugin/browserProxy.h"

#include <windows.h>
#include <winhttp.h>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/unordered_set.hpp>
#include <mutex>
#include <vector>

#include "comfw/hresult.h"
#include "comfw/uniqueAny.h"
#include "pluginlog/pluginLog.h"

namespace zova {
namespace {

inline void CloseInternet(HINTERNET h) noexcept { ::WinHttpCloseHandle(h); }
using unique_hinternet = comfw::unique_any<comfw::handle_traits::NullInvalid<HINTERNET, CloseInternet>>;

struct ProxyCache {
    bool read = false;
    bool failed = false;
    // Its strings live as long as the module and are never freed.
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
    std::wstring manualProxy;
    boost::unordered_set<std::wstring> bypass;
};

ProxyCache& Cache() {
    static ProxyCache cache;
    return cache;
}

void ReadSettingsOnce(ProxyCache& cache) {
    static std::once_flag once;
    std::call_once(once, [&cache] {
        if (!::WinHttpGetIEProxyConfigForCurrentUser(&cache.settings)) {
            cache.failed = true;
            cache.settings = WINHTTP_CURRENT_USER_IE_PROXY_CONFIG{};
        } else if (cache.settings.lpszProxy && !cache.settings.fAutoDetect && !cache.settings.lpszAutoConfigUrl) {
            cache.manualProxy = ManualProxyFromSetting(cache.settings.lpszProxy);
            if (cache.settings.lpszProxyBypass) {
                std::vector<std::wstring> entries;
                const std::wstring list = cache.settings.lpszProxyBypass;
                boost::split(entries, list, boost::is_any_of(L";"), boost::token_compress_on);
                cache.bypass.clear();
                cache.bypass.insert(entries.begin(), entries.end());
            }
        }
        cache.read = true;
    });
}

std::wstring AskWinHttp(const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& settings, const std::wstring& host) {
    const unique_hinternet session(::WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        ZOVA_REPORT("WinHttpOpen failed, rc=%d", static_cast<int>(::GetLastError()));
        return std::wstring();
    }
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (settings.lpszAutoConfigUrl) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = settings.lpszAutoConfigUrl;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = FALSE;

    const std::wstring url = L"https://" + host;
    WINHTTP_PROXY_INFO info{};
    if (!::WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
        ZOVA_REPORT("Getting proxy for URL failed, rc=%d", static_cast<int>(::GetLastError()));
        return std::wstring();
    }
    const comfw::unique_hglobal<wchar_t> proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
    return proxy ? std::wstring(proxy.get()) : std::wstring();
}

}  // namespace

std::wstring ManualProxyFromSetting(const std::wstring& setting) {
    const std::wstring key = L"https=";
    const size_t at = setting.find(key);
    if (at == std::wstring::npos) return setting;
    const size_t begin = at + key.size();
    const size_t end = setting.find(L';', begin);
    return setting.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin);
}

std::wstring ResolveBrowserProxy(const std::wstring& host) {
    try {
        ProxyCache& cache = Cache();
        ReadSettingsOnce(cache);
        if (cache.failed) return std::wstring();

        const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& settings = cache.settings;
        if (!settings.fAutoDetect && !settings.lpszAutoConfigUrl) {
            if (!settings.lpszProxy) return std::wstring();
            if (cache.bypass.count(host)) return std::wstring();
            return cache.manualProxy;
        }
        return AskWinHttp(settings, host);
    } catch (...) {
        // Out of memory: no proxy, as when none can be found.
        comfw::ResultFromCaughtException(__FILE__, __LINE__, __func__);
        return std::wstring();
    }
}

}  // namespace zova

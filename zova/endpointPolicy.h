// Which machines a page may make the console connect to. The control is safe
// for scripting, so any page can call connect: without a policy, a page could
// use the console to open connections into the user's network.
//
// The policy is the registry value AllowedEndpoints (REG_SZ) under
// HKLM\Software\Velmora\Remote Console (machine-wide) and under the same
// path in HKCU (a developer's own machine): host:port patterns separated by
// ';', '*' matching any run of characters and '?' one, without regard to
// case ("*.lab.example:5900;127.0.0.1:59*"). The two lists add up. When
// neither value exists, only loopback endpoints are allowed.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace zova::console {

inline constexpr wchar_t kPolicyKey[] = L"Software\\Velmora\\Remote Console";
inline constexpr wchar_t kPolicyValue[] = L"AllowedEndpoints";

struct Endpoint {
    std::wstring host;
    uint16_t port = 0;
};

enum class HostForm {
    kSimulated,  // a host name without a port: the console's simulated VM
    kRfb,        // host:port, an RFB server
    kInvalid,    // a port that is not a number from 1 to 65535
};
// "[v6]:port" takes brackets around an IPv6 address.
HostForm ParseHost(const std::wstring& text, Endpoint& out);

bool IsLoopback(const std::wstring& host);

// `patterns` as read from the registry; `configured` whether any value
// exists at all.
bool EndpointAllowed(const std::vector<std::wstring>& patterns, bool configured, const Endpoint& endpoint);

// Reads the value under `subkey` of HKLM and HKCU; `configured` is set if
// either exists.
std::vector<std::wstring> ReadAllowedEndpoints(const wchar_t* subkey, bool& configured);

}  // namespace zova::console

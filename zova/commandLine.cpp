#include "zova/commandLine.h"

#include <shellapi.h>
#include <cwchar>
#include <memory>

namespace zova::console {
namespace {

// A whole decimal number within [min, max].
bool ParseDecimal(const wchar_t* text, long long min, long long max, long long& out) {
    if (!text || !*text) return false;
    const wchar_t* digits = text[0] == L'-' ? text + 1 : text;
    if (!*digits) return false;
    for (const wchar_t* p = digits; *p; ++p) {
        if (*p < L'0' || *p > L'9') return false;
    }
    if (wcslen(digits) > 10) return false;
    const long long v = wcstoll(text, nullptr, 10);
    if (v < min || v > max) return false;
    out = v;
    return true;
}

struct LocalFreeDeleter {
    void operator()(LPWSTR* p) const noexcept { ::LocalFree(p); }
};

}  // namespace

bool ParseCommandLine(const wchar_t* commandLine, ConsoleOptions& out, std::wstring& error) {
    int argc = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(::CommandLineToArgvW(commandLine ? commandLine : L"", &argc));
    if (!argv) {
        error = L"cannot split the command line";
        return false;
    }
    ConsoleOptions o;
    enum Seen { kPid = 1, kId = 2, kModes = 4, kMessageMode = 8, kFeatures = 16, kAll = 31 };
    int seen = 0;
    for (int i = 1; i < argc; i += 2) {
        const std::wstring name = argv.get()[i];
        if (i + 1 >= argc) {
            error = L"switch " + name + L" has no value";
            return false;
        }
        const wchar_t* value = argv.get()[i + 1];
        long long n = 0;
        int bit = 0;
        bool ok = true;
        if (name == L"--parent-PID") {
            bit = kPid;
            ok = ParseDecimal(value, 0, 0xFFFFFFFFll, n);
            o.parentPid = static_cast<DWORD>(n);
        } else if (name == L"--instance-ID") {
            bit = kId;
            o.instanceId = value;
        } else if (name == L"--modes") {
            // The control writes the modes unsigned: every 32-bit value, in
            // either form, is a mode set.
            bit = kModes;
            ok = ParseDecimal(value, -0x80000000ll, 0xFFFFFFFFll, n);
            o.modes = static_cast<LONG>(static_cast<ULONG>(n));
        } else if (name == L"--message-mode") {
            bit = kMessageMode;
            ok = ParseDecimal(value, -0x80000000ll, 0x7FFFFFFFll, n);
            o.messageMode = static_cast<LONG>(n);
        } else if (name == L"--features") {
            // The control formats the flags with %d: the top bit arrives negative.
            bit = kFeatures;
            ok = ParseDecimal(value, -0x80000000ll, 0xFFFFFFFFll, n);
            o.features = static_cast<ULONG>(n);
        } else {
            error = L"unknown switch " + name;
            return false;
        }
        if (!ok) {
            error = L"switch " + name + L" has a bad value \"" + value + L"\"";
            return false;
        }
        if (seen & bit) {
            error = L"switch " + name + L" is given twice";
            return false;
        }
        seen |= bit;
    }
    if (seen != kAll) {
        static const wchar_t* const names[] = {L"--parent-PID", L"--instance-ID", L"--modes", L"--message-mode",
                                               L"--features"};
        for (int b = 0; b < 5; ++b) {
            if (!(seen & (1 << b))) {
                error = std::wstring(L"switch ") + names[b] + L" is missing";
                break;
            }
        }
        return false;
    }
    out = std::move(o);
    return true;
}

}  // namespace zova::console

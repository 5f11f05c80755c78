// The advanced configuration parser on random option lists and mutations of
// them: a bit is set exactly for a known name whose value is "true".
#include "plugin-common/utils.h"
#include "tests/fuzz/fuzz.h"

#include <locale>

namespace zova::fuzz {
namespace {

const wchar_t* const kNames[] = {L"usebrowserproxy", L"tunnelmks", L"persistent", L"autoanswerquestions",
                                 L"cacheconnections"};

// White space as the platform's default locale classifies it.
std::wstring Trimmed(const std::wstring& s) {
    const auto space = [](wchar_t c) { return std::isspace(c, std::locale()); };
    size_t b = 0, e = s.size();
    while (b < e && space(s[b])) ++b;
    while (e > b && space(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// The bit an option earns: one "=", a known name and the value "true".
uint32_t Earned(const std::wstring& option) {
    const size_t eq = option.find(L'=');
    if (eq == std::wstring::npos || option.find(L'=', eq + 1) != std::wstring::npos) return 0;
    if (Trimmed(option.substr(eq + 1)) != L"true") return 0;
    for (uint32_t i = 0; i < 5; ++i)
        if (Trimmed(option.substr(0, eq)) == kNames[i]) return 1u << i;
    return 0;
}

std::wstring Space(Rng& rng) { return rng.Percent(70) ? L"" : rng.Pick({L" ", L"\t", L"\r\n", L"\u00a0", L"\u3000"}); }

}  // namespace

void FuzzConfigParser(Rng& rng) {
    std::wstring config;
    for (uint32_t n = rng.Below(7), i = 0; i < n; ++i) {
        std::wstring name = rng.Percent(80) ? kNames[rng.Below(5)] : rng.Text();
        if (rng.Percent(10) && !name.empty()) name[rng.Below(name.size())] ^= 0x20;  // a letter's case
        const wchar_t* value = rng.Percent(70) ? L"true" : rng.Pick({L"TRUE", L"false", L"", L"1", L"true\0"});
        config += (i ? L";" : L"") + Space(rng) + name + Space(rng) + std::wstring(rng.Percent(90) ? 1 : rng.Below(3), L'=') +
                  Space(rng) + std::wstring(value, value[0] == L't' && rng.Percent(5) ? 5 : std::wcslen(value)) +
                  Space(rng);
    }
    for (uint32_t n = rng.Percent(30) ? rng.Below(4) : 0; n; --n) {  // insert, delete or replace a character
        const size_t at = rng.Below(config.size() + 1);
        const std::wstring piece = rng.Percent(50) ? std::wstring(1, rng.Pick({L';', L'=', L' ', L'\0'})) : rng.Text(8);
        if (rng.Percent(50) || at == config.size()) config.insert(at, piece);
        else config.replace(at, 1, rng.Percent(50) ? L"" : piece);
    }
    uint32_t expected = 0;
    for (size_t from = 0, to;; from = to + 1) {
        to = config.find(L';', from);
        expected |= Earned(config.substr(from, to - from));
        if (to == std::wstring::npos) break;
    }
    const uint32_t flags = ParseAdvancedConfig(config);
    FUZZ_CHECK((flags & ~31u) == 0);
    FUZZ_CHECK(flags == expected);
}

}  // namespace zova::fuzz

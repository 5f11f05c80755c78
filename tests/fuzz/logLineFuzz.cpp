// Log lines of hostile length and content: random formats of the runtime's
// conversions over huge, odd and unconvertible arguments. Whatever they hold,
// the line is one line, ends in "\n" and keeps to its bound.
#include "pluginlog/logLine.h"
#include "tests/fuzz/fuzz.h"

#include <cstring>
#include <deque>
#include <vector>

namespace zova::fuzz {

void FuzzLogLine(Rng& rng) {
    // On x64 Windows a va_list walks 8-byte slots, one per argument.
    std::vector<uint64_t> slots;
    std::deque<std::string> narrow;
    std::deque<std::wstring> wide;
    const auto longest = [&] { return rng.Percent(5) ? 20000 : 200; };
    std::string format;
    for (uint32_t n = rng.Below(8); n; --n) {
        switch (rng.Below(8)) {
        case 0: {
            std::string text = rng.Bytes(longest());
            for (char& c : text) c = c == '%' || c == '\0' ? '#' : c;
            format += text;
            break;
        }
        case 1: format += rng.Pick({"%d", "%u", "%08lX", "%I64d", "%p", "%c", "%f", "%g"}), slots.push_back(rng.Next()); break;
        case 2: format += "%*d", slots.push_back(rng.Below(rng.Percent(5) ? 100000 : 40)), slots.push_back(rng.Next()); break;
        case 3: format += "%c", slots.push_back(rng.Pick({0, 10, 13, 0xe9})); break;
        case 4: case 5:
            narrow.push_back(rng.Bytes(longest()));
            format += rng.Pick({"%s", "%hs", "%.5s"});
            slots.push_back(rng.Percent(5) ? 0 : reinterpret_cast<uintptr_t>(narrow.back().c_str()));
            break;
        default:
            wide.push_back(rng.Text(longest()));
            format += rng.Pick({"%S", "%ls", "[%S]"});
            slots.push_back(rng.Percent(5) ? 0 : reinterpret_cast<uintptr_t>(wide.back().c_str()));
        }
    }
    const std::string longSource(rng.Below(300), 's');
    const char* source = rng.Pick({static_cast<const char*>(nullptr), "", "C:\\src\\axplugin\\deviceOps.cpp", longSource.c_str()});
    const SYSTEMTIME time{static_cast<WORD>(1601 + rng.Below(29227)), WORD(1 + rng.Below(12)), 0, WORD(1 + rng.Below(31)),
                          WORD(rng.Below(24)), WORD(rng.Below(60)), WORD(rng.Below(60)), WORD(rng.Below(1000))};
    slots.resize(slots.size() + 1);  // never read past the last argument
    const std::string line = log::FormatLine(time, source, static_cast<int>(rng.Next()), rng.Percent(2) ? nullptr : format.c_str(),
                                             reinterpret_cast<va_list>(slots.data()));
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == line.size() - 1);
    // Time (up to 24), " [", the source, ":", the line (up to 11), "]: ", the message (up to 2047), "\n".
    FUZZ_CHECK(line.size() <= 24 + 2 + (source ? std::strlen(source) : 0) + 1 + 11 + 3 + log::kMessageChars - 1 + 1);
}

}  // namespace zova::fuzz

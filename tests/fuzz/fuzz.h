// Seeded random inputs for the in-process targets of fuzz_inputs: the
// generator, the checks and the count of live task-allocator blocks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zova::fuzz {

// splitmix64: each case runs on a generator seeded with its own number, so
// one case is reproduced alone from the seed printed when it fails.
class Rng {
public:
    explicit Rng(uint64_t seed) noexcept : s_(seed) {}
    uint64_t Next() noexcept {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) noexcept { return n ? static_cast<uint32_t>(Next() % n) : 0; }
    bool Percent(uint32_t p) noexcept { return Below(100) < p; }
    template <class T, size_t N>
    const T& Pick(const T (&table)[N]) noexcept { return table[Below(N)]; }

    // Wide text: mostly short and printable, with NULs, separators, white
    // space, characters outside the C locale and unpaired surrogates mixed in;
    // now and then up to `longest` characters.
    std::wstring Text(size_t longest = 64);
    // Narrow text of the same kind, bytes 0x80-0xFF included.
    std::string Bytes(size_t longest = 64);

private:
    uint64_t s_;
};

// A property that does not hold ends the run with the case's seed.
struct Failure {
    std::string what;
};
#define FUZZ_CHECK(cond)                                                          \
    do {                                                                          \
        if (!(cond)) throw ::zova::fuzz::Failure{__FILE__ ":" + std::to_string(__LINE__) + ": " #cond}; \
    } while (0)

// Blocks of the COM task allocator (BSTRs, SAFEARRAYs) allocated and not yet
// freed; the BSTR cache is off, so a freed string is freed at once.
long LiveTaskBlocks() noexcept;

// The targets, each one case per call.
void FuzzConfigParser(Rng& rng);
void FuzzEventDecoder(Rng& rng);
void FuzzDeviceDetails(Rng& rng);
void FuzzLogLine(Rng& rng);
void FuzzSettingsFile(Rng& rng);
void FuzzPageOrigin(Rng& rng);
void FuzzRfbStream(Rng& rng);

}  // namespace zova::fuzz

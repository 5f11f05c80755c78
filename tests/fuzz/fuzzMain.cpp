// fuzz_inputs: seeded random cases against the control's parsers and
// converters, in process. Every case checks properties (no crash, no leaked
// task-allocator block, a result the code allows), never fixed outputs.
//   fuzz_inputs [--seed=N] [--cases=N] [--target=NAME]
// Case i of a run uses the seed N+i; a failure or a crash prints the case's
// seed and the command line that runs that case alone.
#include "pluginlog/pluginLog.h"
#include "tests/fuzz/fuzz.h"

#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>

extern "C" void WINAPI SetOaNoCache(void);

namespace zova::fuzz {
namespace {

const struct Target {
    const char* name;
    void (*run)(Rng&);
} kTargets[] = {
    {"config", FuzzConfigParser},
    {"decoder", FuzzEventDecoder},
    {"details", FuzzDeviceDetails},
    {"logline", FuzzLogLine},
    {"settings", FuzzSettingsFile},
    {"origin", FuzzPageOrigin},
    {"rfb", FuzzRfbStream},
};

long g_live = 0;

// Counts the task allocator's blocks; sizes and pointers pass unchanged.
struct CountingSpy final : IMallocSpy {
    void* reallocFrom = nullptr;
    SIZE_T reallocSize = 0;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = (riid == IID_IUnknown || riid == IID_IMallocSpy) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cb) override { return cb; }
    STDMETHODIMP_(void*) PostAlloc(void* p) override { return g_live += p != nullptr, p; }
    STDMETHODIMP_(void*) PreFree(void* p, BOOL spyed) override { return g_live -= p && spyed, p; }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* p, SIZE_T cb, void** out, BOOL) override {
        return reallocFrom = *out = p, reallocSize = cb;
    }
    STDMETHODIMP_(void*) PostRealloc(void* p, BOOL) override {
        return g_live += (!reallocFrom && p) - (reallocFrom && !reallocSize), p;
    }
    STDMETHODIMP_(void*) PreGetSize(void* p, BOOL) override { return p; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cb, BOOL) override { return cb; }
    STDMETHODIMP_(void*) PreDidAlloc(void* p, BOOL) override { return p; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}
} g_spy;

// The case under way, for the report of a crash.
const Target* g_target = nullptr;
uint64_t g_caseSeed = 0;

void PrintRerun(const char* what) {
    std::printf("FAILED %s case seed %llu: %s\n  rerun: fuzz_inputs --target=%s --seed=%llu --cases=1\n",
                g_target->name, static_cast<unsigned long long>(g_caseSeed), what, g_target->name,
                static_cast<unsigned long long>(g_caseSeed));
    std::fflush(stdout);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* e) {
    char what[64];
    std::snprintf(what, sizeof what, "exception 0x%08lX", e->ExceptionRecord->ExceptionCode);
    if (g_target) PrintRerun(what);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

long LiveTaskBlocks() noexcept { return g_live; }

std::wstring Rng::Text(size_t longest) {
    static const wchar_t* const kPieces[] = {L"a", L"Z", L"0", L"7", L"-", L"+", L" ", L"\t", L"\r\n", L"=", L";",
                                            L"true", L"%s", L"\u00e9", L"\u4e2d", L"\xd800", L"\xdfff", L"\uffff",
                                            L"host-01.lab.example", L"store-1/vm-42/vm-42.cfg"};
    std::wstring text;
    const size_t length = Percent(3) ? Below(static_cast<uint32_t>(longest) + 1) : Below(12);
    while (text.size() < length) {
        if (Percent(5)) text += L'\0';
        else text += Pick(kPieces);
    }
    return text;
}

std::string Rng::Bytes(size_t longest) {
    std::string bytes;
    for (wchar_t c : Text(longest)) bytes += c < 0x80 ? static_cast<char>(c) : static_cast<char>(0x80 + Below(128));
    return bytes;
}

}  // namespace zova::fuzz

int main(int argc, char** argv) {
    using namespace zova::fuzz;
    uint64_t seed = 1;
    unsigned long long cases = 3000;
    const char* only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--seed=", 7)) seed = std::strtoull(argv[i] + 7, nullptr, 10);
        else if (!std::strncmp(argv[i], "--cases=", 8)) cases = std::strtoull(argv[i] + 8, nullptr, 10);
        else if (!std::strncmp(argv[i], "--target=", 9)) only = argv[i] + 9;
        else return std::fprintf(stderr, "usage: fuzz_inputs [--seed=N] [--cases=N] [--target=NAME]\n"), 2;
    }
    if (FAILED(::OleInitialize(nullptr)) || FAILED(::CoRegisterMallocSpy(&g_spy))) return 2;
    SetOaNoCache();
    ::SetUnhandledExceptionFilter(OnCrash);
    std::set_terminate([] { if (g_target) PrintRerun("terminated"); std::_Exit(3); });
    {
        // The count must see a string come and go, or it proves nothing.
        const long before = LiveTaskBlocks();
        BSTR probe = ::SysAllocString(L"probe");
        const bool seen = LiveTaskBlocks() == before + 1;
        ::SysFreeString(probe);
        if (!seen || LiveTaskBlocks() != before) return std::fprintf(stderr, "the allocation count is blind\n"), 2;
    }
    std::printf("seed %llu, %llu cases per target\n", static_cast<unsigned long long>(seed), cases);
    int failed = 0;
    for (const Target& target : kTargets) {
        if (only && std::strcmp(only, target.name)) continue;
        g_target = &target;
        const auto start = std::chrono::steady_clock::now();
        for (unsigned long long i = 0; i < cases; ++i) {
            g_caseSeed = seed + i;
            Rng rng(g_caseSeed);
            const long live = LiveTaskBlocks();
            try {
                target.run(rng);
                FUZZ_CHECK(LiveTaskBlocks() == live);
            } catch (const Failure& f) {
                PrintRerun(f.what.c_str());
                ++failed;
                break;
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-8s %llu cases in %.2f s: %.0f cases/s\n", target.name, cases, seconds, cases / seconds);
        std::fflush(stdout);
    }
    g_target = nullptr;
    // The parser's reports of malformed options are expected here: the log
    // is kept only when a case failed.
    if (!failed) PluginLogClearKeepForTesting();
    ::CoRevokeMallocSpy();
    ::OleUninitialize();
    return failed ? 1 : 0;
}

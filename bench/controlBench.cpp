// The control's paths against the platform's floor for the same work, in one run on one machine: medians of repeated
// runs with their spread, and the ratio product / floor. Then a flood of events, and start/shutdown, bare start and
// attach/shutdown cycles with the process's handle count and private bytes sampled, as slopes per thousand (no
// growth: a slope near zero).
//   control_bench [cycles] [flood events]    (defaults 200, 100000)
#include <windows.h>
#include <ole2.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "pluginlog/pluginLog.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/procControl.h"
#include "zova/consoleContract.h"

namespace {

using comfw::ComPtr;
namespace console = zova::console;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stat {
    double median, low, high;  // median and the 10th and 90th percentiles
};
// Times `once`; `after` (untimed) puts things back for the next run.
Stat Measure(int runs, const std::function<void()>& once, const std::function<void()>& after = [] {}) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        once();
        t.push_back(Ms(Clock::now() - start));
        after();
    }
    std::sort(t.begin(), t.end());
    return {t[t.size() / 2], t[t.size() / 10], t[t.size() * 9 / 10]};
}

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

// A sink that counts the events it is given, nothing more: the floor's sink,
// and the page's side of the control's events.
struct CountingSink final
    : comfw::ComObject<CountingSink, comfw::DispatchByIdOnly<_IVelmoraEmbeddedRemoteConsoleEvents>> {
    long events = 0;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
        ++events;
        return S_OK;
    }
};

// Calls into the console go through zova::CallConsole*, a bare Invoke by dispid.
using comfw::Variant;

// The floor of a start: the console process started with the same command line, its ready event, the running object
// bound, a VM control made in the window and a sink advised; torn down by Unadvise and Delete.
struct BareConsole {
    ComPtr<IDispatch> process, vm;
    bool Start(HWND window, IDispatch* sink) {
        const std::wstring id = zova::ZOVAEmbeddedCtl::MakeInstanceId(false);
        const std::wstring exe = zova::GetConsoleExecutablePath();
        std::wstring line = zova::BuildConsoleCommandLine(exe, id, 2, 2, 0);
        HANDLE ready = ::CreateEventW(nullptr, FALSE, FALSE, (L"ZOVA_EVENT_" + id).c_str());
        STARTUPINFOW si{sizeof si};
        PROCESS_INFORMATION pi{};
        bool ok = ::CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                                   &si, &pi);
        if (ok) {
            ::CloseHandle(pi.hThread);
            const HANDLE both[] = {ready, pi.hProcess};
            ok = ::WaitForMultipleObjects(2, both, FALSE, 30000) == WAIT_OBJECT_0;
            ::CloseHandle(pi.hProcess);
        }
        ::CloseHandle(ready);
        ComPtr<IMoniker> moniker;
        ComPtr<IBindCtx> ctx;
        if (!ok || FAILED(::CreateFileMoniker((L"ZOVA_MONIKER_" + id).c_str(), moniker.put())) ||
            FAILED(::CreateBindCtx(0, ctx.put())) ||
            FAILED(moniker->BindToObject(ctx.get(), nullptr, IID_IDispatch, process.put_void())))
            return false;
        Variant made;
        RECT r{};
        ::GetClientRect(window, &r);
        const Variant handle = Variant::I4(static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
        if (FAILED(zova::CallConsoleFor(process.get(), ZOVA_DISPID_CREATE_CONTROL, VT_DISPATCH, made, handle,
                                        Variant::I4(r.left), Variant::I4(r.top), Variant::I4(r.right),
                                        Variant::I4(r.bottom))))
            return false;
        vm = ComPtr<IDispatch>(made.get().pdispVal);
        return SUCCEEDED(zova::CallConsole(vm.get(), ZOVA_DISPID_ADVISE, Variant::Dispatch(sink)));
    }
    void Stop() {
        if (!vm) return;
        zova::CallConsole(vm.get(), ZOVA_DISPID_UNADVISE);
        zova::CallConsole(vm.get(), ZOVA_DISPID_DELETE);
        vm.reset();
        process.reset();
    }
};

struct Sample {
    double cycle, handles, privateKiB;
};
Sample Now(double cycle) {
    DWORD handles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    // Wine fills the page-file usage, which Windows keeps equal to the private bytes.
    const SIZE_T privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    return {cycle, static_cast<double>(handles), privateBytes / 1024.0};
}
// Least-squares slope of y over x, per thousand x.
double SlopePerThousand(const std::vector<Sample>& s, double Sample::*y) {
    double mx = 0, my = 0;
    for (const Sample& p : s) mx += p.cycle, my += p.*y;
    mx /= s.size(), my /= s.size();
    double num = 0, den = 0;
    for (const Sample& p : s) num += (p.cycle - mx) * (p.*y - my), den += (p.cycle - mx) * (p.cycle - mx);
    return den ? 1000.0 * num / den : 0.0;
}

void Row(FILE* data, const char* name, Stat product, Stat floor) {
    std::printf("%-28s %10.3f [%7.3f..%7.3f] %10.3f [%7.3f..%7.3f] %7.2f\n", name, product.median, product.low,
                product.high, floor.median, floor.low, floor.high, product.median / floor.median);
    std::fprintf(data, "\"%s\" %.4f %.4f\n", name, product.median, floor.median);
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    const int floodEvents = argc > 2 ? std::max(1000, std::atoi(argv[2]) / 1000 * 1000) : 100000;
    if (FAILED(::OleInitialize(nullptr))) return 2;
    // Consoles this run leaves waiting (the persistent one) end soon after it.
    ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", L"idle-ms=3000");
    HWND host = ::CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                  nullptr, nullptr);
    ComPtr<zova::ZOVAEmbeddedCtl> control;
    zova::ZOVAEmbeddedCtl::Make(control);
    RECT r{0, 0, 640, 480};
    const HWND window = control->CreateWindowFor(host, &r, nullptr, zova::ZOVAEmbeddedCtl::kWindowStyle, 0);
    ComPtr<CountingSink> page;
    CountingSink::Make(page);
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    control->FindConnectionPoint(DIID__IVelmoraEmbeddedRemoteConsoleEvents, point.put());
    point->Advise(static_cast<IDispatch*>(page.get()), &cookie);
    ComPtr<CountingSink> bareSink;
    CountingSink::Make(bareSink);

    FILE* data = std::fopen("bench-control.dat", "w");
    std::printf("%-28s %10s %19s %10s %19s %7s\n", "path (ms)", "control", "[p10..p90]", "floor", "[p10..p90]", "ratio");

    // startup to its return, against the bare start of the same console.
    BareConsole bare;
    const Stat start = Measure(
        15,
        [&] {
            comfw::Bstr id;
            control->startup(2, ZOVA_EVENT_MESSAGES, nullptr, id.put());
        },
        [&] {
            control->shutdown();
            Pump();
        });
    const Stat startFloor = Measure(
        15, [&] { if (!bare.Start(window, bareSink.get())) std::fprintf(stderr, "bare start failed\n"); },
        [&] { bare.Stop(); });
    Row(data, "startup", start, startFloor);

    // A console operation, against a bare cross-process Invoke of it.
    comfw::Bstr id;
    control->startup(2, ZOVA_EVENT_MESSAGES, nullptr, id.put());
    bare.Start(window, bareSink.get());
    ZOVA_ConnectionState state{};
    const Stat call = Measure(400, [&] { control->getConnectionState(&state); });
    const Stat callFloor = Measure(400, [&] { zova::CallConsole(bare.vm.get(), ZOVA_DISPID_GET_CONNECTION_STATE); });
    Row(data, "console operation", call, callFloor);

    // Console events to the page, against the same events into a bare sink.
    constexpr int kEvents = 200;
    const auto raise = [&](IDispatch* vm, long& counter) {
        const long target = counter + kEvents;
        for (int i = 0; i < kEvents; ++i)
            zova::CallConsole(vm, ZOVA_DISPID_TEST_RAISE_EVENT, Variant::I4(ZOVA_EVENTID_VIRTUAL_DEVICES_CHANGE),
                              Variant());
        while (counter < target) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            Pump();
        }
    };
    const Stat events = Measure(5, [&] { raise(control->vm_control(), page->events); });
    const Stat eventsFloor = Measure(5, [&] { raise(bare.vm.get(), bareSink->events); });
    Row(data, "200 events to the handler", events, eventsFloor);

    // A flood: bursts of a thousand events that the console sends while the
    // page's thread takes none of its window messages, so the dispatcher's
    // queue holds the whole burst; then the thread catches up. The queue's
    // depth and the private bytes are sampled after each burst.
    const int kFlood = floodEvents, kBurst = 1000;
    std::vector<Sample> flood;
    long deepest = 0;
    const long floodStart = page->events;
    for (int raised = kBurst; raised <= kFlood; raised += kBurst) {
        for (int i = 0; i < kBurst; ++i)
            zova::CallConsole(control->vm_control(), ZOVA_DISPID_TEST_RAISE_EVENT,
                              Variant::I4(ZOVA_EVENTID_VIRTUAL_DEVICES_CHANGE), Variant());
        deepest = std::max(deepest, raised - (page->events - floodStart));
        while (page->events - floodStart < raised) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            Pump();
        }
        flood.push_back(Now(raised));
    }
    std::printf("%d events in bursts of %d: %ld at the page, deepest queue %ld, private KiB %+.1f per thousand "
                "events\n", kFlood, kBurst, page->events - floodStart, deepest,
                SlopePerThousand(flood, &Sample::privateKiB));
    bare.Stop();
    control->shutdown();

    // One log line, against the same line's write, flush and debugger copy.
    char path[MAX_PATH];
    ::GetTempPathA(MAX_PATH, path);
    FILE* plain = std::fopen((std::string(path) + "bench-floor.log").c_str(), "wt");
    const Stat line = Measure(2000, [] { PluginLogWrite(__FILE__, __LINE__, "bench line %d: %s", 42, "text"); });
    const Stat lineFloor = Measure(2000, [&] {
        char text[160];
        SYSTEMTIME t;
        ::GetLocalTime(&t);
        std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d [%s:%d]: bench line %d: %s\n", t.wYear,
                      t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, __FILE__, __LINE__, 42,
                      "text");
        std::fputs(text, plain);
        std::fflush(plain);
        ::OutputDebugStringA(text);
    });
    std::fclose(plain);
    Row(data, "log line", line, lineFloor);
    std::fclose(data);

    // Cycles: start/shutdown, then a persistent console attached and let go.
    std::vector<Sample> starts, attaches;
    for (int i = 0; i < cycles; ++i) {
        comfw::Bstr each;
        control->startup(2, ZOVA_EVENT_MESSAGES, nullptr, each.put());
        control->shutdown();
        Pump();
        if (i % std::max(1, cycles / 50) == 0) starts.push_back(Now(i));
    }
    // One persistent console, attached and let go again and again (a
    // persistent console outlives each view; it ends at its idle limit).
    comfw::Bstr persistent;
    {
        comfw::Bstr config = comfw::Bstr::Attach(::SysAllocString(L"persistent=true"));
        control->startup(2, ZOVA_EVENT_MESSAGES, config.get(), persistent.put());
        control->shutdown();
    }
    for (int i = 0; i < cycles; ++i) {
        control->attach(persistent.get());
        control->shutdown();
        Pump();
        if (i % std::max(1, cycles / 50) == 0) attaches.push_back(Now(i));
    }
    // The same number of bare starts of the console, to tell what the
    // platform keeps per console process from what the control keeps.
    std::vector<Sample> bareStarts;
    for (int i = 0; i < cycles; ++i) {
        bare.Start(window, bareSink.get());
        bare.Stop();
        Pump();
        if (i % std::max(1, cycles / 50) == 0) bareStarts.push_back(Now(i));
    }
    FILE* cyc = std::fopen("bench-cycles.dat", "w");
    for (size_t i = 0; i < starts.size(); ++i)
        std::fprintf(cyc, "%g %g %g %g %g\n", starts[i].cycle, starts[i].handles, starts[i].privateKiB,
                     i < attaches.size() ? attaches[i].handles : 0.0, i < attaches.size() ? attaches[i].privateKiB : 0.0);
    std::fclose(cyc);
    std::printf("%d start/shutdown cycles: handles %+.2f, private KiB %+.1f per thousand cycles\n", cycles,
                SlopePerThousand(starts, &Sample::handles), SlopePerThousand(starts, &Sample::privateKiB));
    std::printf("%d bare console starts (the floor): private KiB %+.1f per thousand cycles\n", cycles,
                SlopePerThousand(bareStarts, &Sample::privateKiB));
    std::printf("%d start-persistent/attach/shutdown cycles: handles %+.2f, private KiB %+.1f per thousand cycles\n",
                cycles, SlopePerThousand(attaches, &Sample::handles), SlopePerThousand(attaches, &Sample::privateKiB));
    control.reset();
    ::DestroyWindow(host);
    ::OleUninitialize();
    return 0;
}

// The console process link and the event dispatcher: decoding and queued
// delivery of console events, finding objects in the running object table,
// fitting and tearing down, and launching the reference console process
// (velmora-zova.exe beside this program). Log lines are read back from this
// program's own log file.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "comfw/safeArray.h"
#include "comfw/variant.h"
#include "pluginlog/pluginLogFile.h"
#include "tests/logTestSupport.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/consoleDispids.h"
#include "win32/plugin/procControl.h"
#include "win32/plugin/vmControlEventDisp.h"

using comfw::ComPtr;
using comfw::Variant;
using zova::VMControlEventDisp;
using namespace zova::test;
using Messages = std::vector<std::string>;

namespace {

// ---------------------------------------------------------------------------
// Shared helpers

// The messages this program's log gains from construction on.
class LogTail {
public:
    LogTail() : path_(PluginLogFilePath()), start_(ReadFileBytes(path_).size()) {}
    Messages messages() const {
        Messages out;
        for (const std::string& line : SplitCrLfLines(ReadFileBytes(path_).substr(start_)))
            out.push_back(MessageOf(line));
        return out;
    }
    bool has(const std::string& message) const {
        const Messages all = messages();
        return std::find(all.begin(), all.end(), message) != all.end();
    }

private:
    std::wstring path_;
    size_t start_;
};

std::string Dec(HRESULT hr) { return std::to_string(static_cast<int>(hr)); }

Variant Str(const wchar_t* text) { return Variant::OwnBstr(text ? ::SysAllocString(text) : nullptr); }
Variant Typed(VARTYPE vt, LONG value) {
    Variant v = Variant::I4(value);
    v.ptr()->vt = vt;
    return v;
}

// Calls Invoke on `target` with arguments given in call order.
template <class... V>
HRESULT Send(IDispatch* target, DISPID id, const V&... callOrder) {
    std::vector<VARIANTARG> lastFirst{callOrder.get()...};
    std::reverse(lastFirst.begin(), lastFirst.end());
    DISPPARAMS params{lastFirst.empty() ? nullptr : lastFirst.data(), nullptr, static_cast<UINT>(lastFirst.size()), 0};
    return target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

// Dispatches this thread's messages until `done` holds or `ms` have passed.
bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (GetTickCount64() > deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// A dispatcher that writes each operation it is called with into a journal
// that outlives it; `onCall` may act during a delivery.
class RecordingSink : public VMControlEventDisp {
public:
    Messages* journal = nullptr;
    std::vector<BSTR> strings;  // every string pointer received
    std::function<HRESULT(const std::string&)> onCall;
    bool* destroyed = nullptr;

    ~RecordingSink() override {
        if (destroyed) *destroyed = true;
    }

    HRESULT onMessage(uint32_t type, BSTR message) noexcept override {
        return Note("onMessage(" + N(type) + "," + S(message) + ")");
    }
    HRESULT onConnectionStateChange(uint32_t cs, BSTR host, BSTR dc, BSTR vm, bool user, BSTR reason) noexcept override {
        return Note("onConnectionStateChange(" + N(cs) + "," + S(host) + "," + S(dc) + "," + S(vm) + "," + B(user) +
                    "," + S(reason) + ")");
    }
    HRESULT onScreenSizeChange(int32_t width, int32_t height) noexcept override {
        return Note("onScreenSizeChange(" + std::to_string(width) + "," + std::to_string(height) + ")");
    }
    HRESULT onGrabStateChange(uint32_t state) noexcept override { return Note("onGrabStateChange(" + N(state) + ")"); }
    HRESULT onFullscreenChange(bool on) noexcept override { return Note("onFullscreenChange(" + B(on) + ")"); }
    HRESULT onDeviceStateChange(uint32_t state, BSTR host, BSTR dc, BSTR vm, BSTR vkey, BSTR pkey, bool user,
                                BSTR reason) noexcept override {
        return Note("onDeviceStateChange(" + N(state) + "," + S(host) + "," + S(dc) + "," + S(vm) + "," + S(vkey) +
                    "," + S(pkey) + "," + B(user) + "," + S(reason) + ")");
    }
    HRESULT onVirtualDevicesChange() noexcept override { return Note("onVirtualDevicesChange()"); }
    HRESULT onPhysicalClientDevicesChange() noexcept override { return Note("onPhysicalClientDevicesChange()"); }

private:
    static std::string N(uint32_t v) { return std::to_string(v); }
    static std::string B(bool v) { return v ? "true" : "false"; }
    std::string S(BSTR s) {
        strings.push_back(s);
        return s ? "'" + Narrow(std::wstring(s, SysStringLen(s))) + "'" : "null";
    }
    HRESULT Note(const std::string& call) noexcept {
        journal->push_back(call);
        return onCall ? onCall(call) : S_OK;
    }
};

ComPtr<RecordingSink> MakeSink(Messages& journal, bool withWindow = true) {
    ComPtr<RecordingSink> sink;
    EXPECT_EQ(S_OK, VMControlEventDisp::Create(sink));
    sink->journal = &journal;
    if (withWindow) {
        EXPECT_NE(nullptr, sink->CreateDispatcherWindow());
    }
    return sink;
}

// Takes one queued dispatcher message for `window` and dispatches it.
bool DeliverOne(HWND window) {
    MSG msg;
    if (!PeekMessageW(&msg, window, zova::WM_VM_CONTROL_EVENT, zova::WM_VM_CONTROL_EVENT, PM_REMOVE)) return false;
    DispatchMessageW(&msg);
    return true;
}

// ---------------------------------------------------------------------------
// Decoding of console events

template <class... V>
HRESULT Decode(zova::IVMControlEvent* target, DISPID id, const V&... callOrder) {
    std::vector<VARIANTARG> lastFirst{callOrder.get()...};
    std::reverse(lastFirst.begin(), lastFirst.end());
    DISPPARAMS params{lastFirst.empty() ? nullptr : lastFirst.data(), nullptr, static_cast<UINT>(lastFirst.size()), 0};
    return zova::InvokeVMControlEvent(target, id, &params);
}

TEST(EventDecoding, EachEventNumberCallsItsOperationWithTheValuesInOrder) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal, false);
    zova::IVMControlEvent* target = sink.get();
    EXPECT_EQ(S_OK, Decode(target, 0, Variant::UI4(4000000000u), Str(L"hello")));
    EXPECT_EQ(S_OK, Decode(target, 1, Variant::UI4(2), Str(L"host"), Str(L"dc"), Str(L"vm-1"), Variant::Bool(true),
                           Str(L"why")));
    // 2 and 3 cross over: 2 is the grab state, 3 the screen size.
    EXPECT_EQ(S_OK, Decode(target, 2, Variant::UI4(1)));
    EXPECT_EQ(S_OK, Decode(target, 3, Variant::I4(-1024), Variant::I4(768)));
    EXPECT_EQ(S_OK, Decode(target, 4, Variant::Bool(false)));
    EXPECT_EQ(S_OK, Decode(target, 5, Variant::UI4(7), Str(L"h"), Str(L"d"), Str(L"v"), Str(L"vk"), Str(L"pk"),
                           Variant::Bool(false), Str(L"r")));
    EXPECT_EQ(S_OK, Decode(target, 6));
    EXPECT_EQ(S_OK, Decode(target, 7));
    EXPECT_EQ((Messages{"onMessage(4000000000,'hello')",
                        "onConnectionStateChange(2,'host','dc','vm-1',true,'why')",
                        "onGrabStateChange(1)",
                        "onScreenSizeChange(-1024,768)",
                        "onFullscreenChange(false)",
                        "onDeviceStateChange(7,'h','d','v','vk','pk',false,'r')",
                        "onVirtualDevicesChange()",
                        "onPhysicalClientDevicesChange()"}),
              journal);
}

TEST(EventDecoding, StringsArriveAsFreshCopiesNullStaysNullAnyNonZeroBoolIsTrue) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal, false);
    Variant message = Str(L"text");
    EXPECT_EQ(S_OK, Decode(sink.get(), 0, Variant::UI4(1), message));
    EXPECT_EQ(S_OK, Decode(sink.get(), 0, Variant::UI4(1), Str(nullptr)));
    EXPECT_EQ(S_OK, Decode(sink.get(), 4, Typed(VT_BOOL, 1)));
    EXPECT_EQ((Messages{"onMessage(1,'text')", "onMessage(1,null)", "onFullscreenChange(true)"}), journal);
    ASSERT_EQ(2u, sink->strings.size());
    EXPECT_NE(message.get().bstrVal, sink->strings[0]);
    EXPECT_EQ(nullptr, sink->strings[1]);
}

TEST(EventDecoding, UnknownNumberWrongCountOrWrongTypeCallsNothing) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal, false);
    zova::IVMControlEvent* target = sink.get();
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Decode(target, 8));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Decode(target, -1));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Decode(target, 0, Variant::UI4(1)));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Decode(target, 6, Variant::UI4(1)));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Decode(target, 2, Variant::UI4(1), Variant::UI4(2)));
    // Exact types only: a state as I4, a size as UI4, a by-reference value,
    // a late string or bool are all refused.
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Decode(target, 2, Variant::I4(1)));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Decode(target, 3, Variant::I4(1), Variant::UI4(2)));
    ULONG state = 1;
    Variant byRef;
    byRef.ptr()->vt = VT_UI4 | VT_BYREF;
    byRef.ptr()->pulVal = &state;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Decode(target, 2, byRef));
    byRef.ptr()->vt = VT_EMPTY;  // not ours to free
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Decode(target, 0, Variant::UI4(1), Variant()));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Decode(target, 1, Variant::UI4(2), Str(L"h"), Str(L"d"), Str(L"v"),
                                          Variant::I4(1), Str(L"r")));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Decode(target, 5, Variant::UI4(7), Str(L"h"), Str(L"d"), Str(L"v"), Str(L"vk"),
                                          Str(L"pk"), Variant::Bool(true), Variant::UI4(0)));
    EXPECT_TRUE(journal.empty());
}

// ---------------------------------------------------------------------------
// Queued delivery

TEST(EventDispatcher, EventsQueuedBeforeTheLoopRunsGoOutWithTheFirstMessage) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    const HWND window = sink->hwnd();
    EXPECT_EQ(S_OK, Send(sink.get(), 2, Variant::UI4(1)));
    EXPECT_EQ(S_OK, Send(sink.get(), 3, Variant::I4(800), Variant::I4(600)));
    EXPECT_EQ(S_OK, Send(sink.get(), 6));
    EXPECT_TRUE(journal.empty()) << "nothing is delivered inside the console's call";
    EXPECT_EQ(3u, sink->pending_count());

    ASSERT_TRUE(DeliverOne(window));
    const Messages all{"onGrabStateChange(1)", "onScreenSizeChange(800,600)", "onVirtualDevicesChange()"};
    EXPECT_EQ(all, journal);
    EXPECT_EQ(0u, sink->pending_count());
    EXPECT_TRUE(DeliverOne(window));
    EXPECT_TRUE(DeliverOne(window));
    EXPECT_FALSE(DeliverOne(window)) << "one message per event";
    EXPECT_EQ(all, journal);
}

TEST(EventDispatcher, AnEventArrivingDuringDeliveryWaitsForItsOwnMessage) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    // The page handler of the first event makes the console send another.
    sink->onCall = [&](const std::string& call) {
        if (call == "onGrabStateChange(1)") {
            EXPECT_EQ(S_OK, Send(sink.get(), 4, Variant::Bool(true)));
        }
        return S_OK;
    };
    Send(sink.get(), 2, Variant::UI4(1));
    Send(sink.get(), 7);
    ASSERT_TRUE(DeliverOne(sink->hwnd()));
    EXPECT_EQ((Messages{"onGrabStateChange(1)", "onPhysicalClientDevicesChange()"}), journal);
    EXPECT_EQ(1u, sink->pending_count());
    ASSERT_TRUE(DeliverOne(sink->hwnd()));
    EXPECT_EQ((Messages{"onGrabStateChange(1)", "onPhysicalClientDevicesChange()", "onFullscreenChange(true)"}),
              journal);
    EXPECT_TRUE(DeliverOne(sink->hwnd()));
    EXPECT_FALSE(DeliverOne(sink->hwnd()));
    EXPECT_EQ(3u, journal.size());
}

TEST(EventDispatcher, BadEventsAreAcceptedThenLoggedAtDeliveryAndTheRestStillGoOut) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    sink->onCall = [](const std::string& call) { return call == "onVirtualDevicesChange()" ? E_ACCESSDENIED : S_OK; };
    LogTail log;
    EXPECT_EQ(S_OK, Send(sink.get(), 8));
    EXPECT_EQ(S_OK, Send(sink.get(), 0, Variant::UI4(1), Str(L"m"), Str(L"extra")));
    EXPECT_EQ(S_OK, Send(sink.get(), 2, Variant::I4(1)));
    EXPECT_EQ(S_OK, Send(sink.get(), 6));
    EXPECT_EQ(S_OK, Send(sink.get(), 4, Variant::Bool(true)));
    EXPECT_TRUE(log.messages().empty());
    PumpUntil([] { return false; }, 0);
    EXPECT_EQ((Messages{"onVirtualDevicesChange()", "onFullscreenChange(true)"}), journal);
    EXPECT_EQ((Messages{"Failed to call VM control event 8: -2147352573",
                        "Failed to call VM control event 0: -2147352562",
                        "Failed to call VM control event 2: -2147352571",
                        "Failed to call VM control event 6: " + Dec(E_ACCESSDENIED)}),
              log.messages());
}

TEST(EventDispatcher, ANullStringArrivesNull) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    Send(sink.get(), 1, Variant::UI4(0), Str(nullptr), Str(L""), Str(nullptr), Variant::Bool(false), Str(nullptr));
    PumpUntil([] { return false; }, 0);
    EXPECT_EQ((Messages{"onConnectionStateChange(0,null,'',null,false,null)"}), journal);
}

TEST(EventDispatcher, DestroyedWithQueuedEventsReportsThemAndCallsNothing) {
    Messages journal;
    bool destroyed = false;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    sink->destroyed = &destroyed;
    const HWND window = sink->hwnd();
    LogTail log;
    Send(sink.get(), 1, Variant::UI4(0), Str(L"h"), Str(L"d"), Str(L"v"), Variant::Bool(false), Str(L"r"));
    Send(sink.get(), 4, Variant::Bool(true));
    sink.reset();
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DeliverOne(window)) << "its posted messages went with the window";
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ((Messages{"VM control event dispatcher is being destroyed with 2 undelivered events:",
                        " event dispid=1", " event dispid=4"}),
              log.messages());
}

TEST(EventDispatcher, ReleasedByItsOwnHandlerFinishesTheBatchAndThenGoes) {
    Messages journal;
    bool destroyed = false;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    sink->destroyed = &destroyed;
    const HWND window = sink->hwnd();
    // The page tears the link down from the first handler: the console drops
    // its (here: the only) reference to the sink.
    ComPtr<RecordingSink>* holder = &sink;
    sink->onCall = [&](const std::string& call) {
        if (call == "onGrabStateChange(0)") {
            holder->reset();
        } else {
            EXPECT_FALSE(destroyed) << call;
        }
        return S_OK;
    };
    Send(sink.get(), 2, Variant::UI4(0));
    Send(sink.get(), 4, Variant::Bool(true));
    Send(sink.get(), 6);
    LogTail log;
    ASSERT_TRUE(DeliverOne(window));
    EXPECT_EQ((Messages{"onGrabStateChange(0)", "onFullscreenChange(true)", "onVirtualDevicesChange()"}), journal);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(log.messages().empty()) << "nothing was left undelivered";
}

TEST(EventDispatcher, AnArgumentThatCannotBeCopiedDropsTheEvent) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    LogTail log;
    const HRESULT hr = Send(sink.get(), 0, Variant::UI4(1), Typed(0x7ff, 0));
    EXPECT_EQ(DISP_E_BADVARTYPE, hr);
    EXPECT_EQ(0u, sink->pending_count());
    EXPECT_FALSE(DeliverOne(sink->hwnd())) << "nothing posted for a dropped event";
    EXPECT_EQ((Messages{"Failed to copy argument 0 of VM control event 0, event dropped: " + Dec(hr)}),
              log.messages());
}

TEST(EventDispatcher, WithoutItsWindowThePostFailsAndTheEventStaysQueued) {
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal, false);
    LogTail log;
    EXPECT_EQ(E_FAIL, Send(sink.get(), 7));
    EXPECT_EQ(1u, sink->pending_count());
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, zova::WM_VM_CONTROL_EVENT, zova::WM_VM_CONTROL_EVENT, PM_NOREMOVE));
    sink.reset();
    EXPECT_EQ((Messages{"PostMessage failed: 1400",
                        "VM control event dispatcher is being destroyed with 1 undelivered events:",
                        " event dispid=7"}),
              log.messages());
}

// ---------------------------------------------------------------------------
// In-process stand-ins for the console's objects

// Records every call (dispid, arguments in call order); answers from a table
// or fails on request.
class FakeConsole : public comfw::ComObject<FakeConsole, comfw::DispatchByIdOnly<IDispatch>> {
public:
    struct Call {
        DISPID id;
        std::vector<Variant> args;
    };
    std::vector<Call> calls;
    std::map<DISPID, HRESULT> failures;
    std::map<DISPID, Variant> results;

    static ComPtr<FakeConsole> Make() {
        ComPtr<FakeConsole> object;
        ComObject::Make(object);
        return object;
    }

    std::vector<DISPID> ids() const {
        std::vector<DISPID> out;
        for (const Call& call : calls) out.push_back(call.id);
        return out;
    }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override {
        Call call{id, {}};
        for (UINT i = params->cArgs; i-- > 0;) {
            Variant copy;
            copy.copy_from(params->rgvarg[i]);
            call.args.push_back(std::move(copy));
        }
        calls.push_back(std::move(call));
        if (const auto f = failures.find(id); f != failures.end()) return f->second;
        if (const auto r = results.find(id); r != results.end() && result)
            return VariantCopy(result, const_cast<VARIANT*>(&r->second.get()));
        return S_OK;
    }
};

// One entry of the running object table under a file moniker's display name,
// revoked at destruction.
class RotEntry {
public:
    RotEntry(const std::wstring& name, IUnknown* object) {
        ComPtr<IMoniker> moniker;
        EXPECT_EQ(S_OK, CreateFileMoniker(name.c_str(), moniker.put()));
        EXPECT_EQ(S_OK, GetRunningObjectTable(0, rot_.put()));
        result_ = rot_->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object, moniker.get(), &cookie_);
        EXPECT_TRUE(SUCCEEDED(result_)) << result_;
    }
    HRESULT result() const { return result_; }
    ~RotEntry() { rot_->Revoke(cookie_); }

private:
    ComPtr<IRunningObjectTable> rot_;
    DWORD cookie_ = 0;
    HRESULT result_ = E_FAIL;
};

bool SameObject(IUnknown* a, IUnknown* b) {
    ComPtr<IUnknown> ua, ub;
    if (!a || !b) return false;
    a->QueryInterface(IID_IUnknown, ua.put_void());
    b->QueryInterface(IID_IUnknown, ub.put_void());
    return ua.get() == ub.get();
}

std::wstring DisplayName(IMoniker* moniker) {
    ComPtr<IBindCtx> ctx;
    CreateBindCtx(0, ctx.put());
    LPOLESTR name = nullptr;
    if (FAILED(moniker->GetDisplayName(ctx.get(), nullptr, &name))) return L"";
    std::wstring text(name);
    CoTaskMemFree(name);
    return text;
}

// ---------------------------------------------------------------------------
// Binding

TEST(ConsoleBinding, FindsAndBindsTheEntryWithTheExactName) {
    ComPtr<FakeConsole> console = FakeConsole::Make();
    RotEntry entry(L"ZOVA_MONIKER_bind-1", console->identity());

    ComPtr<IMoniker> moniker;
    EXPECT_EQ(S_OK, zova::GetMoniker(L"ZOVA_MONIKER_bind-1", moniker));
    ASSERT_TRUE(moniker);
    EXPECT_EQ(L"ZOVA_MONIKER_bind-1", DisplayName(moniker.get()));

    LogTail log;
    ComPtr<IDispatch> bound;
    EXPECT_EQ(S_OK, zova::AttachToConsoleProcess(L"bind-1", bound));
    EXPECT_TRUE(SameObject(console->identity(), bound.get()));
    EXPECT_EQ((Messages{"Binding to [ZOVA_MONIKER_bind-1]", "BindToObject succeeded"}), log.messages());
}

TEST(ConsoleBinding, AbsentOrOtherCaseNameIsNotFound) {
    ComPtr<FakeConsole> console = FakeConsole::Make();
    RotEntry entry(L"ZOVA_MONIKER_Case-1", console->identity());

    ComPtr<IMoniker> moniker;
    EXPECT_EQ(S_FALSE, zova::GetMoniker(L"ZOVA_MONIKER_absent", moniker));
    EXPECT_FALSE(moniker);
    for (const wchar_t* id : {L"case-1", L"CASE-1", L"Case-1 ", L"Case-"}) {
        LogTail log;
        ComPtr<IDispatch> bound;
        EXPECT_EQ(E_FAIL, zova::AttachToConsoleProcess(id, bound));
        EXPECT_FALSE(bound);
        EXPECT_EQ((Messages{"Moniker not found"}), log.messages());
    }
}

TEST(ConsoleBinding, EmptyIdLooksForThePrefixAlone) {
    ComPtr<FakeConsole> console = FakeConsole::Make();
    ComPtr<IDispatch> bound;
    EXPECT_EQ(E_FAIL, zova::AttachToConsoleProcess(L"", bound));
    RotEntry entry(L"ZOVA_MONIKER_", console->identity());
    LogTail log;
    EXPECT_EQ(S_OK, zova::AttachToConsoleProcess(L"", bound));
    EXPECT_TRUE(SameObject(console->identity(), bound.get()));
    EXPECT_TRUE(log.has("Binding to [ZOVA_MONIKER_]"));
}

TEST(ConsoleBinding, OfTwoEqualNamesTheFirstEnumeratedWins) {
    ComPtr<FakeConsole> first = FakeConsole::Make();
    ComPtr<FakeConsole> second = FakeConsole::Make();
    RotEntry a(L"ZOVA_MONIKER_twin", first->identity());
    RotEntry b(L"ZOVA_MONIKER_twin", second->identity());
    EXPECT_EQ(S_OK, a.result());
    EXPECT_EQ(MK_S_MONIKERALREADYREGISTERED, b.result()) << "the table takes the second entry all the same";

    // Which one the table lists first is the table's business; read it.
    ComPtr<IRunningObjectTable> rot;
    ASSERT_EQ(S_OK, GetRunningObjectTable(0, rot.put()));
    ComPtr<IEnumMoniker> running;
    ASSERT_EQ(S_OK, rot->EnumRunning(running.put()));
    ComPtr<IUnknown> listedFirst;
    ComPtr<IMoniker> moniker;
    while (!listedFirst && running->Next(1, moniker.put(), nullptr) == S_OK) {
        if (DisplayName(moniker.get()) == L"ZOVA_MONIKER_twin") rot->GetObject(moniker.get(), listedFirst.put());
    }
    ASSERT_TRUE(listedFirst);

    ComPtr<IDispatch> bound;
    EXPECT_EQ(S_OK, zova::BindToConsoleObject(L"ZOVA_MONIKER_twin", bound));
    EXPECT_TRUE(SameObject(listedFirst.get(), bound.get()));
}

// ---------------------------------------------------------------------------
// Attach, fitting and teardown against stand-ins

// A popup window of the test with a client area of the given size.
struct TestWindow {
    HWND hwnd;
    TestWindow(int width, int height)
        : hwnd(CreateWindowExW(0, L"STATIC", L"control", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr)) {}
    ~TestWindow() { DestroyWindow(hwnd); }
};

// The rectangle of `child` in the client coordinates of its parent.
RECT PlaceInParent(HWND child, HWND parent) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

struct ConsolePair {
    ComPtr<FakeConsole> process = FakeConsole::Make();
    ComPtr<FakeConsole> control = FakeConsole::Make();
    ConsolePair() { process->results[zova::console::kAttachControl] = Variant::Dispatch(control.get()); }
};

TEST(ConsoleAttach, AsksForAControlInTheWindowAndAdvisesTheSink) {
    ConsolePair fake;
    RotEntry entry(L"ZOVA_MONIKER_attach-1", fake.process->identity());
    TestWindow window(300, 200);
    ComPtr<FakeConsole> sink = FakeConsole::Make();
    ComPtr<IDispatch> process, control;
    EXPECT_EQ(S_OK, zova::AttachConsoleAndControl(L"attach-1", window.hwnd, RECT{1, 2, 301, 202}, sink.get(), process,
                                                  control));
    EXPECT_TRUE(SameObject(fake.process->identity(), process.get()));
    EXPECT_TRUE(SameObject(fake.control->identity(), control.get()));

    ASSERT_EQ(std::vector<DISPID>{zova::console::kAttachControl}, fake.process->ids());
    const auto& args = fake.process->calls[0].args;
    ASSERT_EQ(5u, args.size());
    for (const Variant& arg : args) EXPECT_EQ(VT_I4, arg.vt());
    EXPECT_EQ(window.hwnd, reinterpret_cast<HWND>(static_cast<LONG_PTR>(args[0].get().lVal)));
    EXPECT_EQ((std::vector<LONG>{1, 2, 301, 202}),
              (std::vector<LONG>{args[1].get().lVal, args[2].get().lVal, args[3].get().lVal, args[4].get().lVal}));

    ASSERT_EQ(std::vector<DISPID>{zova::console::kAdvise}, fake.control->ids());
    ASSERT_EQ(1u, fake.control->calls[0].args.size());
    EXPECT_EQ(VT_DISPATCH, fake.control->calls[0].args[0].vt());
    EXPECT_TRUE(SameObject(sink->identity(), fake.control->calls[0].args[0].get().pdispVal));
}

TEST(ConsoleAttach, FailuresReleaseWhatWasMadeAndLeaveTheOutputs) {
    ConsolePair fake;
    RotEntry entry(L"ZOVA_MONIKER_attach-2", fake.process->identity());
    TestWindow window(300, 200);
    ComPtr<FakeConsole> keep = FakeConsole::Make();
    ComPtr<IDispatch> process(keep.get()), control(keep.get());
    const ULONG processRefs = fake.process->ref_count();
    const ULONG controlRefs = fake.control->ref_count();

    // A result of another type than a dispatch.
    Variant vmControl = std::move(fake.process->results[zova::console::kAttachControl]);
    fake.process->results[zova::console::kAttachControl] = Variant::I4(5);
    {
        LogTail log;
        EXPECT_EQ(DISP_E_TYPEMISMATCH, zova::AttachConsoleAndControl(L"attach-2", window.hwnd, RECT{}, nullptr,
                                                                     process, control));
        EXPECT_EQ((Messages{"Binding to [ZOVA_MONIKER_attach-2]", "BindToObject succeeded",
                            "Failed to attach control: -2147352571"}),
                  log.messages());
    }
    EXPECT_EQ(processRefs, fake.process->ref_count());
    // The console refuses the sink: the control made for it goes as well,
    // without Unadvise or Delete.
    fake.process->results[zova::console::kAttachControl] = std::move(vmControl);
    fake.control->failures[zova::console::kAdvise] = E_INVALIDARG;
    {
        LogTail log;
        EXPECT_EQ(E_INVALIDARG, zova::AttachConsoleAndControl(L"attach-2", window.hwnd, RECT{}, nullptr, process,
                                                              control));
        EXPECT_TRUE(log.has("Advise failed: " + Dec(E_INVALIDARG)));
    }
    EXPECT_EQ(processRefs, fake.process->ref_count());
    EXPECT_EQ(controlRefs, fake.control->ref_count());
    EXPECT_EQ(std::vector<DISPID>{zova::console::kAdvise}, fake.control->ids());
    EXPECT_EQ(keep.get(), process.get());
    EXPECT_EQ(keep.get(), control.get());

    LogTail log;
    EXPECT_EQ(E_FAIL, zova::AttachConsoleAndControl(L"attach-none", window.hwnd, RECT{}, nullptr, process, control));
    EXPECT_EQ((Messages{"Moniker not found", "Failed to attach to ZOVA process: -2147467259"}), log.messages());
}

TEST(ConsoleWindow, FitsTheConsoleWindowToTheClientArea) {
    TestWindow parent(800, 600);
    HWND consoleWindow = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 10, 10, 50, 50, parent.hwnd, nullptr,
                                         GetModuleHandleW(nullptr), nullptr);
    ComPtr<FakeConsole> vm = FakeConsole::Make();
    vm->results[zova::console::kGetHWND] = Variant::I4(static_cast<LONG>(reinterpret_cast<LONG_PTR>(consoleWindow)));
    SetWindowPos(parent.hwnd, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    LogTail log;
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    const RECT placed = PlaceInParent(consoleWindow, parent.hwnd);
    EXPECT_EQ((std::vector<LONG>{0, 0, 640, 480}), (std::vector<LONG>{placed.left, placed.top, placed.right, placed.bottom}));
    EXPECT_EQ(std::vector<DISPID>{zova::console::kGetHWND}, vm->ids());
    EXPECT_TRUE(log.messages().empty());
}

TEST(ConsoleWindow, EachWayOfNotFittingSaysWhy) {
    TestWindow parent(200, 100);
    ComPtr<FakeConsole> vm = FakeConsole::Make();
    {
        LogTail log;
        TestWindow gone(10, 10);
        const HWND stale = gone.hwnd;
        DestroyWindow(stale);
        zova::ResizeVMWindow(stale, vm.get());
        zova::ResizeVMWindow(nullptr, nullptr);
        EXPECT_TRUE(vm->calls.empty());
        EXPECT_TRUE(log.messages().empty()) << "no window of the control: nothing to say";
    }
    LogTail log;
    zova::ResizeVMWindow(parent.hwnd, nullptr);
    vm->failures[zova::console::kGetHWND] = RPC_E_DISCONNECTED;
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    vm->failures.clear();
    vm->results[zova::console::kGetHWND] = Variant::Bool(true);
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    vm->results[zova::console::kGetHWND] = Variant::I4(0x7ff0);
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    EXPECT_EQ((Messages{"ResizeVMWindow: no VM control", "Invoke failed for GetHWND: " + Dec(RPC_E_DISCONNECTED),
                        "Invoke failed for GetHWND: -2147352571", "No window assiciated with the VM control"}),
              log.messages());
}

// Runs one disabled test of this program in a process of its own whose TEMP
// is `temp`; gives its process ID, or 0 when it did not pass.
DWORD RunChildTest(const std::string& name, const std::wstring& temp) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=ConsoleWindowChild.DISABLED_" +
                           std::wstring(name.begin(), name.end());
    std::vector<wchar_t> env;
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* p = own; *p; p += wcslen(p) + 1) {
        if (_wcsnicmp(p, L"TMP=", 4) && _wcsnicmp(p, L"TEMP=", 5)) env.insert(env.end(), p, p + wcslen(p) + 1);
    }
    FreeEnvironmentStringsW(own);
    for (const std::wstring& var : {L"TMP=" + temp, L"TEMP=" + temp}) env.insert(env.end(), var.c_str(), var.c_str() + var.size() + 1);
    env.push_back(L'\0');
    // Its own report would only repeat ours: its output goes nowhere.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si{sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                        env.data(), nullptr, &si, &pi);
    CloseHandle(nul);
    if (!started) return 0;
    DWORD code = 1;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0 ? pi.dwProcessId : 0;
}

// Run only as children of the test below.
TEST(ConsoleWindowChild, DISABLED_NoConsoleWindow) {
    TestWindow parent(200, 100);
    ComPtr<FakeConsole> vm = FakeConsole::Make();
    vm->results[zova::console::kGetHWND] = Variant::I4(0);
    LogTail log;
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    EXPECT_EQ((Messages{"No window assiciated with the VM control"}), log.messages());
}
TEST(ConsoleWindowChild, DISABLED_NoVMControl) {
    TestWindow parent(200, 100);
    LogTail log;
    zova::ResizeVMWindow(parent.hwnd, nullptr);
    EXPECT_EQ((Messages{"ResizeVMWindow: no VM control"}), log.messages());
}

TEST(ConsoleWindow, AConsoleWithoutWindowIsATraceThatDoesNotKeepTheLog) {
    ScratchTemp temp;
    const DWORD traced = RunChildTest("NoConsoleWindow", temp.Path());
    ASSERT_NE(0u, traced);
    EXPECT_FALSE(FileExists(temp.LogFile(traced))) << "a trace alone: the log goes at exit";
    const DWORD reported = RunChildTest("NoVMControl", temp.Path());
    ASSERT_NE(0u, reported);
    EXPECT_TRUE(FileExists(temp.LogFile(reported))) << "an error report keeps the log";
}

TEST(ConsoleTeardown, UnadviseThenDeleteThenBothReferencesGoWhateverTheConsoleSays) {
    for (const bool refuse : {false, true}) {
        ComPtr<FakeConsole> processObject = FakeConsole::Make();
        ComPtr<FakeConsole> vmObject = FakeConsole::Make();
        if (refuse) {
            vmObject->failures[zova::console::kUnadvise] = E_UNEXPECTED;
            vmObject->failures[zova::console::kDelete] = RPC_E_DISCONNECTED;
        }
        ComPtr<IDispatch> process(processObject.get()), control(vmObject.get());
        LogTail log;
        zova::TeardownVMControl(process, control);
        EXPECT_FALSE(process);
        EXPECT_FALSE(control);
        EXPECT_EQ(1u, processObject->ref_count());
        EXPECT_EQ(1u, vmObject->ref_count());
        EXPECT_TRUE(processObject->calls.empty());
        EXPECT_EQ((std::vector<DISPID>{zova::console::kUnadvise, zova::console::kDelete}), vmObject->ids());
        for (const auto& call : vmObject->calls) EXPECT_TRUE(call.args.empty());
        const Messages expected = refuse ? Messages{"Unadvise failed: " + Dec(E_UNEXPECTED),
                                                    "VM control Delete() failed: " + Dec(RPC_E_DISCONNECTED)}
                                         : Messages{};
        EXPECT_EQ(expected, log.messages());
    }
}

// ---------------------------------------------------------------------------
// The launcher, with the reference console process

std::wstring ThisDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

std::wstring NewInstanceId(bool persistent) {
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return std::wstring(persistent ? L"zova-ax-p-" : L"zova-ax-t-") + text;
}

// The console's fault switches for the consoles started while it lives. Each
// also gets a short idle limit, so that a console the test cannot reach ends
// by itself.
class ConsoleFaults {
public:
    explicit ConsoleFaults(const std::wstring& faults) {
        SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", faults.c_str());
    }
    ~ConsoleFaults() {
        SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr);
        zova::SetConsoleWaitTimeoutMsForTesting(180000);
    }
};

// A console process known by its ID: waited for, or ended, at the end.
class ConsoleProcess {
public:
    explicit ConsoleProcess(IDispatch* vmControl) {
        Variant pid;
        EXPECT_EQ(S_OK, zova::CallConsoleFor(vmControl, 1004, VT_UI4, pid));
        handle_ = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid.get().ulVal);
        EXPECT_NE(nullptr, handle_);
    }
    ~ConsoleProcess() {
        if (handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) TerminateProcess(handle_, 9);
        if (handle_) CloseHandle(handle_);
    }
    bool EndsWithin(DWORD ms) {
        return PumpUntil([this] { return WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }, ms);
    }

private:
    HANDLE handle_ = nullptr;
};

bool ConsoleIsAdvised(IDispatch* vmControl) {
    Variant advised;
    EXPECT_EQ(S_OK, zova::CallConsoleFor(vmControl, 1002, VT_BOOL, advised));
    return advised.get().boolVal != VARIANT_FALSE;
}

HWND ConsoleWindowOf(IDispatch* vmControl) {
    Variant handle;
    EXPECT_EQ(S_OK, zova::CallConsoleFor(vmControl, zova::console::kGetHWND, VT_I4, handle));
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle.get().lVal));
}

TEST(ConsoleLauncher, CommandLineAndExecutablePath) {
    const std::wstring id = L"zova-ax-t-{0A1B2C3D-0000-4000-8000-00000000ABCD}";
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(L"\"C:\\Program Files\\v z\\velmora-zova.exe\" --parent-PID " + pid + L" --instance-ID \"" + id +
                  L"\" --modes 1234567 --message-mode -2 --features 31",
              zova::BuildConsoleCommandLine(L"C:\\Program Files\\v z\\velmora-zova.exe", id, 1234567, -2, 31));
    EXPECT_EQ(L"\"\" --parent-PID " + pid + L" --instance-ID \"\" --modes 0 --message-mode 0 --features 0",
              zova::BuildConsoleCommandLine(L"", L"", 0, 0, 0));
    // This program links the launcher, so the console is looked for beside it.
    EXPECT_EQ(ThisDirectory() + L"\\velmora-zova.exe", zova::GetConsoleExecutablePath());
    EXPECT_EQ(180000u, zova::ConsoleWaitTimeoutMs());
}

TEST(ConsoleLauncher, AMissingExecutableFailsWithoutWaiting) {
    const std::wstring exe = ThisDirectory() + L"\\no-such-console.exe";
    const std::wstring cmd = L"\"" + exe + L"\" --parent-PID 1";
    LogTail log;
    ComPtr<IDispatch> process;
    EXPECT_EQ(E_FAIL, zova::LaunchAndWaitForMoniker(L"ZOVA_MONIKER_x", L"ZOVA_EVENT_x", exe, cmd, process));
    EXPECT_FALSE(process);
    EXPECT_EQ((Messages{"Startup: ZOVA_MONIKER_x, ZOVA_EVENT_x, " + Narrow(exe) + ", " + Narrow(cmd),
                        "Creating ZOVA process",
                        "Failed to create ZOVA process (" + Narrow(exe) + ", " + Narrow(cmd) + "): 2"}),
              log.messages());
}

TEST(ConsoleLauncher, ACompleteStartFitsItsWindowDeliversEventsAndTearsDown) {
    ConsoleFaults faults(L"");
    const std::wstring id = NewInstanceId(false);
    TestWindow window(800, 600);
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    ComPtr<IDispatch> process, control;
    LogTail log;
    ASSERT_EQ(S_OK, zova::StartConsoleAndCreateControl(id, 3, 2, 16, window.hwnd, RECT{0, 0, 800, 600}, sink.get(),
                                                       process, control));
    ASSERT_TRUE(process);
    ASSERT_TRUE(control);
    const std::wstring exe = ThisDirectory() + L"\\velmora-zova.exe";
    const std::wstring cmd = L"\"" + exe + L"\" --parent-PID " + std::to_wstring(GetCurrentProcessId()) +
                             L" --instance-ID \"" + id + L"\" --modes 3 --message-mode 2 --features 16";
    const std::string moniker = "ZOVA_MONIKER_" + Narrow(id);
    EXPECT_EQ((Messages{"Startup: " + moniker + ", ZOVA_EVENT_" + Narrow(id) + ", " + Narrow(exe) + ", " + Narrow(cmd),
                        "Creating ZOVA process", "Starting MsgWait loop", "Got WAIT_OBJECT_0",
                        "Wait for moniker succeeded", "Binding to [" + moniker + "]", "BindToObject succeeded"}),
              log.messages());
    ConsoleProcess console(control.get());
    EXPECT_TRUE(ConsoleIsAdvised(control.get()));

    // The console's window lies in ours; a smaller control gets it refitted.
    const HWND consoleWindow = ConsoleWindowOf(control.get());
    ASSERT_TRUE(IsWindow(consoleWindow));
    EXPECT_EQ(window.hwnd, GetParent(consoleWindow));
    SetWindowPos(window.hwnd, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    zova::ResizeVMWindow(window.hwnd, control.get());
    const RECT placed = PlaceInParent(consoleWindow, window.hwnd);
    EXPECT_EQ((std::vector<LONG>{0, 0, 640, 480}),
              (std::vector<LONG>{placed.left, placed.top, placed.right, placed.bottom}));

    // An event the console raises reaches the sink from the message loop.
    comfw::SafeArray args;
    ASSERT_EQ(S_OK, comfw::SafeArray::Variants(2, args));
    LONG index = 0;
    Variant width = Variant::I4(1280), height = Variant::I4(1024);
    SafeArrayPutElement(args.get(), &index, width.ptr());
    index = 1;
    SafeArrayPutElement(args.get(), &index, height.ptr());
    Variant argsVariant;
    argsVariant.ptr()->vt = VT_ARRAY | VT_VARIANT;
    argsVariant.ptr()->parray = args.detach();
    journal.clear();
    EXPECT_EQ(S_OK, zova::CallConsole(control.get(), 1001, Variant::I4(zova::console::kOnScreenSizeChange),
                                      argsVariant));
    EXPECT_TRUE(PumpUntil([&] { return !journal.empty(); }, 10000));
    EXPECT_EQ((Messages{"onScreenSizeChange(1280,1024)"}), journal);

    LogTail teardownLog;
    zova::TeardownVMControl(process, control);
    EXPECT_FALSE(process);
    EXPECT_FALSE(control);
    EXPECT_TRUE(teardownLog.messages().empty());
    // Deleted, and not persistent: the console ends by itself.
    EXPECT_TRUE(console.EndsWithin(15000));
}

TEST(ConsoleLauncher, AttachesAControlToAPersistentConsole) {
    ConsoleFaults faults(L"idle-ms=2000");
    const std::wstring id = NewInstanceId(true);
    TestWindow window(400, 300);
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    ComPtr<IDispatch> process, control;
    ASSERT_EQ(S_OK, zova::StartConsoleAndCreateControl(id, 0, 0, 4, window.hwnd, RECT{0, 0, 400, 300}, sink.get(),
                                                       process, control));
    ConsoleProcess console(control.get());
    // A reference of the test's own shows what the teardown did to the
    // console's control.
    ComPtr<IDispatch> spy = control;
    {
        LogTail log;
        zova::TeardownVMControl(process, control);
        EXPECT_FALSE(process);
        EXPECT_FALSE(control);
        EXPECT_TRUE(log.messages().empty());
    }
    EXPECT_FALSE(ConsoleIsAdvised(spy.get()));
    spy.reset();
    PumpUntil([] { return false; }, 300);
    EXPECT_FALSE(console.EndsWithin(0)) << "a persistent console outlives its control";

    TestWindow other(320, 200);
    LogTail log;
    ASSERT_EQ(S_OK, zova::AttachConsoleAndControl(id, other.hwnd, RECT{0, 0, 320, 200}, sink.get(), process, control));
    EXPECT_EQ((Messages{"Binding to [ZOVA_MONIKER_" + Narrow(id) + "]", "BindToObject succeeded"}), log.messages());
    EXPECT_TRUE(ConsoleIsAdvised(control.get()));
    EXPECT_EQ(other.hwnd, GetParent(ConsoleWindowOf(control.get())));
    zova::TeardownVMControl(process, control);
    EXPECT_TRUE(console.EndsWithin(15000)) << "ends at its idle limit";
}

TEST(ConsoleLauncher, AConsoleThatNeverSignalsTimesOut) {
    ConsoleFaults faults(L"no-ready;idle-ms=1500");
    zova::SetConsoleWaitTimeoutMsForTesting(700);
    LogTail log;
    ComPtr<IDispatch> process;
    EXPECT_EQ(E_FAIL, zova::StartConsoleProcess(NewInstanceId(false), 0, 0, 0, process));
    EXPECT_FALSE(process);
    const Messages all = log.messages();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ((Messages{"Unexpected wait result: 258", "Wait for moniker result failed"}),
              Messages(all.end() - 2, all.end()));
}

TEST(ConsoleLauncher, AQuitDuringTheWaitEndsItAndIsPostedAgain) {
    ConsoleFaults faults(L"no-ready;idle-ms=1500");
    zova::SetConsoleWaitTimeoutMsForTesting(20000);
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        PostQuitMessage(7);
    });
    ASSERT_NE(0u, timer);
    LogTail log;
    ComPtr<IDispatch> process;
    EXPECT_EQ(E_FAIL, zova::StartConsoleProcess(NewInstanceId(false), 0, 0, 0, process));
    KillTimer(nullptr, timer);
    const Messages all = log.messages();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ((Messages{"Got WM_QUIT", "Wait for moniker result failed"}), Messages(all.end() - 2, all.end()));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
}

TEST(ConsoleLauncher, ASignalWithoutRegistrationIsMonikerNotFound) {
    ConsoleFaults faults(L"no-register;idle-ms=1500");
    LogTail log;
    ComPtr<IDispatch> process;
    EXPECT_EQ(E_FAIL, zova::StartConsoleProcess(NewInstanceId(false), 0, 0, 0, process));
    EXPECT_FALSE(process);
    const Messages all = log.messages();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ((Messages{"Got WAIT_OBJECT_0", "Wait for moniker succeeded", "Moniker not found"}),
              Messages(all.end() - 3, all.end()));
}

TEST(ConsoleLauncher, AControlOfTheWrongTypeFailsTheStart) {
    ConsoleFaults faults(L"wrong-type=0;idle-ms=1500");
    TestWindow window(200, 100);
    Messages journal;
    ComPtr<RecordingSink> sink = MakeSink(journal);
    ComPtr<IDispatch> process, control;
    LogTail log;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, zova::StartConsoleAndCreateControl(NewInstanceId(false), 0, 0, 0, window.hwnd,
                                                                      RECT{0, 0, 200, 100}, sink.get(), process,
                                                                      control));
    EXPECT_FALSE(process);
    EXPECT_FALSE(control);
    EXPECT_EQ("Failed to create control: -2147352571", log.messages().back());
    EXPECT_EQ(1u, sink->ref_count()) << "the sink was never handed to the console";
}

}  // namespace

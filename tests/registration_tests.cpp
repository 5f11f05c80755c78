// The module as a COM server, through the platform's regsvr32 and registrar, and its type library: widl's plus the
// enum members' help strings. The module is left registered for the page tests that follow.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "axplugin/velmoraRemoteConsole.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/comPtr.h"
#include "tests/consoleTestSupport.h"
#include "tools/typelib/typeLibModel.h"

using comfw::ComPtr;

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
std::wstring ModulePath() { return ProgramFolder() + L"velmoraRemoteConsole.dll"; }

bool KeyExists(const std::wstring& key) {
    HKEY h = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    ::RegCloseKey(h);
    return true;
}

DWORD RunRegsvr32(const std::wstring& args) {
    zova::test::Process regsvr32;
    const bool started = regsvr32.Start(L"regsvr32.exe /s " + args + L" \"" + ModulePath() + L"\"", 0);
    return started ? regsvr32.ExitCodeWithin(60000) : ~0u;
}

}  // namespace

TEST(Module, ExportsAnswerAsAnInProcessServerMust) {
    HMODULE module = ::LoadLibraryW(ModulePath().c_str());
    ASSERT_NE(nullptr, module);
    auto canUnload = reinterpret_cast<decltype(&DllCanUnloadNow)>(::GetProcAddress(module, "DllCanUnloadNow"));
    auto getClassObject = reinterpret_cast<decltype(&DllGetClassObject)>(::GetProcAddress(module, "DllGetClassObject"));
    ASSERT_NE(nullptr, canUnload);
    ASSERT_NE(nullptr, getClassObject);

    EXPECT_EQ(S_FALSE, canUnload());  // never, not even with no object alive

    ComPtr<IClassFactory> factory;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IDispatch, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(nullptr, factory.get());
}

TEST(Module, RegistrationWritesTheClassAndUnregistrationLeavesOnlyClsid) {
    // The values the registry script writes are its own to state; that they make the class from this module shows
    // at the end. Both ProgIDs name the one class.
    ASSERT_EQ(0u, RunRegsvr32(L""));
    CLSID byVersion{}, byName{};
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"Velmora.RemoteConsole.5.1", &byVersion));
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"Velmora.RemoteConsole", &byName));
    EXPECT_TRUE(::IsEqualCLSID(CLSID_VelmoraEmbeddedRemoteConsole, byVersion));
    EXPECT_TRUE(::IsEqualCLSID(byVersion, byName));

    ASSERT_EQ(0u, RunRegsvr32(L"/u"));
    for (const wchar_t* key : {L"CLSID\\{59E853C6-078C-460C-9BC0-FF88CC33F968}", L"Velmora.RemoteConsole",
                               L"Velmora.RemoteConsole.5.1", L"TypeLib\\{B1B369A8-A4AC-4A40-9AD9-6AE47C910A0D}"})
        EXPECT_FALSE(KeyExists(key)) << Narrow(key);
    EXPECT_TRUE(KeyExists(L"CLSID"));

    // Registered again for the page tests.
    ASSERT_EQ(0u, RunRegsvr32(L""));
    ComPtr<IDispatch> made;
    EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_VelmoraEmbeddedRemoteConsole, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IDispatch, made.put_void()));
}

TEST(Version, AProgramWithoutTheVersionResourceStillHearsTheBuiltVersion) {
    // This program links the control without its resources: no version block to read, yet getVersion answers in full.
    comfw::ComPtr<zova::ZOVAEmbeddedCtl> control;
    ASSERT_EQ(S_OK, zova::ZOVAEmbeddedCtl::Make(control));
    comfw::Bstr version;
    ASSERT_EQ(S_OK, control->getVersion(version.put()));
    EXPECT_EQ(std::wstring(L"" ZOVA_VERSION), version.str());
}

namespace {

// Everything of a library that a script, a container or the marshaller reads, a line per type and member.
std::vector<std::string> Lines(const tlbtool::Library& lib) {
    auto type = [](const tlbtool::TypeRef& t) {
        return std::to_wstring(t.vt) + L":" + t.name + L":" + std::to_wstring(t.kind) + std::wstring(t.pointers, L'*');
    };
    std::vector<std::string> lines{Narrow(lib.name + L" " + lib.help + L" " + std::to_wstring(lib.major) + L"." +
                                          std::to_wstring(lib.minor) + L" " + std::to_wstring(lib.lcid))};
    for (const tlbtool::TypeEntry& t : lib.types) {
        wchar_t guid[40];
        ::StringFromGUID2(t.guid, guid, 40);
        lines.push_back(Narrow(std::to_wstring(t.kind) + L" " + std::to_wstring(t.dual) + L" " + t.name + L" [" +
                               t.help + L"] " + guid + L" " + std::to_wstring(t.flags)));
        if (t.kind == TKIND_COCLASS)
            for (const tlbtool::Implemented& i : t.implemented)
                lines.push_back(Narrow(L"  implements " + i.name + L" " + std::to_wstring(i.flags)));
        for (const tlbtool::Method& m : t.methods) {
            std::wstring line = L"  " + m.name + L" " + std::to_wstring(m.id) + L" " + std::to_wstring(m.invoke) +
                                L" " + std::to_wstring(m.funcKind) + L" " + std::to_wstring(m.slot) + L" " +
                                std::to_wstring(m.flags) + L" " + type(m.returns) + L" [" + m.help + L"]";
            for (const tlbtool::Param& p : m.params)
                line += L" (" + p.name + L" " + type(p.type) + L" " + std::to_wstring(p.flags) + L")";
            lines.push_back(Narrow(line));
        }
        for (const tlbtool::Constant& c : t.constants)
            lines.push_back(Narrow(L"  " + c.name + L" " + std::to_wstring(c.id) + L" = " + std::to_wstring(c.value) +
                                   L" [" + c.help + L"]"));
    }
    return lines;
}

}  // namespace

// The help texts themselves are the reference's (docs/api.md, written from the embedded library).
TEST(TypeLibrary, TheModuleCarriesWidlsLibraryWithHelpForEveryEnumMemberAndRegistersThatOne) {
    ComPtr<ITypeLib> widlLib, builtLib, registeredLib;
    const std::wstring widlPath = ProgramFolder() + L"..\\generated\\axplugin\\widl\\velmoraRemoteConsole.tlb";
    ASSERT_EQ(S_OK, ::LoadTypeLibEx(widlPath.c_str(), REGKIND_NONE, widlLib.put()));
    ASSERT_EQ(S_OK, ::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, builtLib.put()));
    ASSERT_EQ(S_OK, ::LoadRegTypeLib(LIBID_VelmoraRemoteConsoleTypeLib, 5, 1, 0x409, registeredLib.put()));
    tlbtool::Library widl, built, registered;
    ASSERT_EQ(S_OK, tlbtool::ReadLibrary(widlLib.get(), widl));
    ASSERT_EQ(S_OK, tlbtool::ReadLibrary(builtLib.get(), built));
    ASSERT_EQ(S_OK, tlbtool::ReadLibrary(registeredLib.get(), registered));
    EXPECT_EQ(Lines(built), Lines(registered));
    // Without the members' help, the module's library is widl's.
    size_t members = 0;
    for (tlbtool::TypeEntry& type : built.types) {
        for (tlbtool::Constant& member : type.constants) {
            EXPECT_EQ(TKIND_ENUM, type.kind) << Narrow(member.name);
            EXPECT_FALSE(member.help.empty()) << Narrow(member.name);
            member.help.clear();
            ++members;
        }
    }
    EXPECT_LT(0u, members);
    EXPECT_EQ(Lines(widl), Lines(built));
}

// The control's type library as the module embeds and registers it: widl's,
// with the enum members' help strings added.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "axplugin/velmoraRemoteConsole.h"
#include "comfw/comPtr.h"
#include "tests/programFolder.h"
#include "tools/typelib/typeLibModel.h"

using comfw::ComPtr;

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

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
    ASSERT_EQ(S_OK, ::LoadTypeLibEx((ProgramFolder() + L"..\\generated\\axplugin\\widl\\velmoraRemoteConsole.tlb").c_str(),
                                    REGKIND_NONE, widlLib.put()));
    ASSERT_EQ(S_OK, ::LoadTypeLibEx((ProgramFolder() + L"velmoraRemoteConsole.dll").c_str(), REGKIND_NONE,
                                    builtLib.put()));
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

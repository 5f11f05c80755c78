// The control's type library as the module embeds and registers it: every
// enum member has its help string, and the rewrite that adds them keeps all
// else of the library widl compiled.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "axplugin/velmoraRemoteConsole.h"
#include "comfw/bstr.h"
#include "comfw/comPtr.h"
#include "tools/typelib/typeLibModel.h"

using comfw::Bstr;
using comfw::ComPtr;

namespace {

struct MemberHelp {
    const wchar_t* type;
    const wchar_t* member;
    const wchar_t* help;
};

const MemberHelp kMemberHelp[] = {
    {L"ZOVA_MessageType", L"ZOVA_MESSAGE_INFO", L"Informational message."},
    {L"ZOVA_MessageType", L"ZOVA_MESSAGE_WARNING", L"Warning message."},
    {L"ZOVA_MessageType", L"ZOVA_MESSAGE_ERROR", L"Error message."},
    {L"ZOVA_MessageType", L"ZOVA_MESSAGE_HINT", L"Hint message."},
    {L"ZOVA_ConnectionState", L"ZOVA_CS_DISCONNECTED", L"ZOVA is not connected to any VM."},
    {L"ZOVA_ConnectionState", L"ZOVA_CS_CONNECTED", L"ZOVA is connected to a remote VM."},
    {L"ZOVA_GrabState", L"ZOVA_GS_GRABBED", L"ZOVA's guest window is grabbed."},
    {L"ZOVA_GrabState", L"ZOVA_GS_UNGRABBED_HARD", L"ZOVA's guest window is hard-ungrabbed."},
    {L"ZOVA_GrabState", L"ZOVA_GS_UNGRABBED_SOFT", L"ZOVA's guest window is soft-ungrabbed."},
    {L"ZOVA_DeviceState", L"ZOVA_DS_DISCONNECTED", L"Device is not currently connected."},
    {L"ZOVA_DeviceState", L"ZOVA_DS_CONNECTED", L"Device is connected."},
    {L"ZOVA_MessageMode", L"ZOVA_DIALOG_MESSAGES", L"ZOVA that displays messages in its own native dialogs."},
    {L"ZOVA_MessageMode", L"ZOVA_EVENT_MESSAGES",
     L"ZOVA that uses events to notify the consumer application of messages."},
    {L"ZOVA_MessageMode", L"ZOVA_NO_MESSAGES", L"ZOVA that suppresses all messages."},
    {L"ZOVA_DeviceType", L"ZOVA_DEVICE_FLOPPY", L"Floppy device."},
    {L"ZOVA_DeviceType", L"ZOVA_DEVICE_CDROM", L"CD-ROM or DVD-ROM device."},
    {L"ZOVA_DeviceType", L"ZOVA_DEVICE_USB", L"USB device."},
    {L"ZOVA_DeviceBacking", L"ZOVA_DB_FILE", L"Virtual device is backed by a file."},
    {L"ZOVA_DeviceBacking", L"ZOVA_DB_PHYSICAL", L"Virtual device is backed by a physical device."},
};

std::wstring BinFolder() {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path(self);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Everything of a library that a script, a container or the marshaller reads,
// a line per type and member.
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

TEST(TypeLibrary, EveryEnumMemberHasItsHelpInTheEmbeddedAndTheRegisteredLibrary) {
    ComPtr<ITypeLib> embedded, registered;
    ASSERT_EQ(S_OK, ::LoadTypeLibEx((BinFolder() + L"velmoraRemoteConsole.dll").c_str(), REGKIND_NONE,
                                    embedded.put()));
    ASSERT_EQ(S_OK, ::LoadRegTypeLib(LIBID_VelmoraRemoteConsoleTypeLib, 5, 1, 0x409, registered.put()));
    for (ITypeLib* lib : {embedded.get(), registered.get()}) {
        for (const MemberHelp& row : kMemberHelp) {
            SCOPED_TRACE(Narrow(row.member));
            ITypeInfo* found = nullptr;
            MEMBERID id = MEMBERID_NIL;
            USHORT count = 1;
            ASSERT_EQ(S_OK, lib->FindName(const_cast<wchar_t*>(row.member), 0, &found, &id, &count));
            ASSERT_EQ(1, count);
            ComPtr<ITypeInfo> info = ComPtr<ITypeInfo>::Attach(found);
            Bstr type, name, help;
            ASSERT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, type.put(), nullptr, nullptr, nullptr));
            ASSERT_EQ(S_OK, info->GetDocumentation(id, name.put(), help.put(), nullptr, nullptr));
            EXPECT_EQ(row.type, type.str());
            EXPECT_EQ(row.member, name.str());
            EXPECT_EQ(row.help, help.str());
        }
    }
}

TEST(TypeLibrary, RewriteKeepsWhatWidlCompiled) {
    ComPtr<ITypeLib> widlLib, builtLib;
    ASSERT_EQ(S_OK, ::LoadTypeLibEx((BinFolder() + L"..\\generated\\axplugin\\widl\\velmoraRemoteConsole.tlb").c_str(),
                                    REGKIND_NONE, widlLib.put()));
    ASSERT_EQ(S_OK, ::LoadTypeLibEx((BinFolder() + L"velmoraRemoteConsole.dll").c_str(), REGKIND_NONE,
                                    builtLib.put()));
    tlbtool::Library widl, built;
    ASSERT_EQ(S_OK, tlbtool::ReadLibrary(widlLib.get(), widl));
    ASSERT_EQ(S_OK, tlbtool::ReadLibrary(builtLib.get(), built));
    // widl's library with the members' help is what the module must carry.
    for (tlbtool::TypeEntry& type : widl.types)
        for (tlbtool::Constant& member : type.constants)
            for (const MemberHelp& row : kMemberHelp)
                if (member.name == row.member) member.help = row.help;
    EXPECT_EQ(Lines(widl), Lines(built));
}

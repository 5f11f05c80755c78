#include "pagehost/pageSource.h"

#include <windows.h>
#include <algorithm>
#include <cwctype>

#include "pagehost/text.h"

namespace pagehost {
namespace {

std::wstring Trim(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::iswspace(s[b])) ++b;
    while (e > b && std::iswspace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// The character references a page author writes in attribute values.
std::wstring DecodeEntities(const std::wstring& s) {
    std::wstring out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != L'&') { out += s[i]; continue; }
        const size_t semi = s.find(L';', i);
        if (semi == std::wstring::npos || semi - i > 10) { out += s[i]; continue; }
        const std::wstring name = s.substr(i + 1, semi - i - 1);
        wchar_t c = 0;
        if (name == L"amp") c = L'&';
        else if (name == L"lt") c = L'<';
        else if (name == L"gt") c = L'>';
        else if (name == L"quot") c = L'"';
        else if (name == L"apos") c = L'\'';
        else if (name.size() > 1 && name[0] == L'#') {
            const bool hex = name[1] == L'x' || name[1] == L'X';
            const std::wstring digits = name.substr(hex ? 2 : 1);
            wchar_t* end = nullptr;
            const unsigned long v = std::wcstoul(digits.c_str(), &end, hex ? 16 : 10);
            if (!digits.empty() && end && *end == 0 && v > 0 && v < 0x10000) c = static_cast<wchar_t>(v);
        }
        if (!c) { out += s[i]; continue; }
        out += c;
        i = semi;
    }
    return out;
}

struct Tag {
    std::wstring name;  // lower case; "/name" for an end tag
    std::vector<std::pair<std::wstring, std::wstring>> attrs;  // names in lower case
    size_t end = 0;     // offset just past '>'

    const std::wstring* attr(const wchar_t* n) const {
        for (const auto& a : attrs) if (a.first == n) return &a.second;
        return nullptr;
    }
};

// Reads the tag that starts at text[pos] == '<'. False when it is not a tag.
bool ReadTag(const std::wstring& text, size_t pos, Tag& tag) {
    size_t i = pos + 1;
    const size_t n = text.size();
    const bool closing = i < n && text[i] == L'/';
    if (closing) ++i;
    const size_t nameStart = i;
    while (i < n && (std::iswalnum(text[i]) || text[i] == L'-' || text[i] == L':')) ++i;
    if (i == nameStart) return false;
    tag.name = (closing ? L"/" : L"") + Lower(text.substr(nameStart, i - nameStart));
    tag.attrs.clear();
    for (;;) {
        while (i < n && (std::iswspace(text[i]) || text[i] == L'/')) ++i;
        if (i >= n) return false;
        if (text[i] == L'>') { tag.end = i + 1; return true; }
        const size_t an = i;
        while (i < n && !std::iswspace(text[i]) && text[i] != L'=' && text[i] != L'>' && text[i] != L'/') ++i;
        std::wstring name = Lower(text.substr(an, i - an));
        while (i < n && std::iswspace(text[i])) ++i;
        std::wstring value;
        if (i < n && text[i] == L'=') {
            ++i;
            while (i < n && std::iswspace(text[i])) ++i;
            if (i < n && (text[i] == L'"' || text[i] == L'\'')) {
                const wchar_t q = text[i++];
                const size_t close = text.find(q, i);
                if (close == std::wstring::npos) return false;
                value = text.substr(i, close - i);
                i = close + 1;
            } else {
                const size_t vs = i;
                while (i < n && !std::iswspace(text[i]) && text[i] != L'>') ++i;
                value = text.substr(vs, i - vs);
            }
        }
        tag.attrs.emplace_back(std::move(name), DecodeEntities(value));
    }
}

class LineIndex {
public:
    explicit LineIndex(const std::wstring& text) {
        for (size_t i = 0; i < text.size(); ++i) if (text[i] == L'\n') breaks_.push_back(i);
    }
    int lineOf(size_t offset) const {
        return static_cast<int>(std::lower_bound(breaks_.begin(), breaks_.end(), offset) - breaks_.begin());
    }
private:
    std::vector<size_t> breaks_;
};

size_t FindNoCase(const std::wstring& text, const std::wstring& lowerNeedle, size_t from) {
    for (size_t i = from; i + lowerNeedle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < lowerNeedle.size() && std::towlower(text[i + k]) == lowerNeedle[k]) ++k;
        if (k == lowerNeedle.size()) return i;
    }
    return std::wstring::npos;
}

// JScript, unless the page names another language.
bool IsJScript(const Tag& tag) {
    for (const wchar_t* a : {L"type", L"language"}) {
        const std::wstring* v = tag.attr(a);
        if (!v || v->empty()) continue;
        const std::wstring l = Lower(*v);
        if (l.find(L"javascript") == std::wstring::npos && l.find(L"jscript") == std::wstring::npos &&
            l.find(L"ecmascript") == std::wstring::npos)
            return false;
    }
    return true;
}

}  // namespace

bool ParseLength(const std::wstring& raw, Length& out) {
    std::wstring text = Lower(Trim(raw));
    bool percent = false;
    if (!text.empty() && text.back() == L'%') { percent = true; text.pop_back(); }
    else if (text.size() > 2 && text.compare(text.size() - 2, 2, L"px") == 0) text.resize(text.size() - 2);
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), ::iswdigit)) return false;
    out.given = true;
    out.percent = percent;
    out.value = std::stoi(text);
    return true;
}

std::wstring DecodePageText(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring w((bytes.size() - 2) / 2, L'\0');
        for (size_t i = 0; i < w.size(); ++i)
            w[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                        (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
        return w;
    }
    size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const int len = static_cast<int>(bytes.size() - skip);
    if (len == 0) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + skip, len, nullptr, 0);
    std::wstring w(n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + skip, len, &w[0], n);
    return w;
}

PageItems ScriptFilePage(const std::wstring& text) {
    PageItem item{PageItem::Kind::Script, {}, {}};
    item.script.code = text;
    return PageItems{item};
}

bool ParseHtmlPage(const std::wstring& text, PageItems& items, std::wstring& error) {
    items.clear();
    const LineIndex lines(text);
    auto fail = [&](size_t at, const std::wstring& what) {
        error = L"line " + std::to_wstring(lines.lineOf(at) + 1) + L": " + what;
        return false;
    };
    // The index of an <object> whose </object> has not been seen.
    constexpr size_t kNone = static_cast<size_t>(-1);
    size_t openObject = kNone;
    size_t pos = 0;
    while ((pos = text.find(L'<', pos)) != std::wstring::npos) {
        if (text.compare(pos, 4, L"<!--") == 0) {
            const size_t end = text.find(L"-->", pos + 4);
            if (end == std::wstring::npos) break;
            pos = end + 3;
            continue;
        }
        Tag tag;
        if (!ReadTag(text, pos, tag)) { ++pos; continue; }
        const size_t tagStart = pos;
        pos = tag.end;
        if (tag.name == L"object") {
            PageItem item{PageItem::Kind::Object, {}, {}};
            ObjectTag& o = item.object;
            o.line = lines.lineOf(tagStart);
            if (const auto* id = tag.attr(L"id")) o.id = Trim(*id);
            if (o.id.empty()) return fail(tagStart, L"an object tag needs an id");
            const std::wstring* cls = tag.attr(L"classid");
            if (!cls || Trim(*cls).empty()) return fail(tagStart, L"object \"" + o.id + L"\" has no classid");
            o.classId = Trim(*cls);
            if (Lower(o.classId.substr(0, 6)) == L"clsid:") o.classId = L"{" + Trim(o.classId.substr(6)) + L"}";
            for (const wchar_t* a : {L"width", L"height"}) {
                const std::wstring* v = tag.attr(a);
                Length& len = a[0] == L'w' ? o.width : o.height;
                if (v && !ParseLength(*v, len))
                    return fail(tagStart, L"object \"" + o.id + L"\": bad " + a + L" \"" + *v + L"\"");
            }
            items.push_back(std::move(item));
            openObject = items.size() - 1;
        } else if (tag.name == L"/object") {
            openObject = kNone;
        } else if (tag.name == L"param") {
            if (openObject == kNone) continue;  // a param outside an object means nothing
            const std::wstring* name = tag.attr(L"name");
            const std::wstring* value = tag.attr(L"value");
            if (!name || name->empty()) return fail(tagStart, L"a param needs a name");
            items[openObject].object.params.emplace_back(*name, value ? *value : std::wstring());
        } else if (tag.name == L"script") {
            const size_t close = FindNoCase(text, L"</script", pos);
            if (close == std::wstring::npos) return fail(tagStart, L"script without </script>");
            PageItem item{PageItem::Kind::Script, {}, {}};
            ScriptBlock& s = item.script;
            s.code = text.substr(pos, close - pos);
            s.line = lines.lineOf(pos);
            // With a src, the block's own text is not run (as in a browser); the page loads the file.
            if (const std::wstring* src = tag.attr(L"src")) {
                s.src = Trim(*src);
                if (s.src.empty()) return fail(tagStart, L"a script's src is empty");
                s.code.clear();
                s.line = 0;
            }
            const std::wstring* forId = tag.attr(L"for");
            const std::wstring* ev = tag.attr(L"event");
            if ((forId != nullptr) != (ev != nullptr))
                return fail(tagStart, L"a script bound to an event needs both \"for\" and \"event\"");
            if (forId) {
                s.forId = Trim(*forId);
                const std::wstring e = Trim(*ev);
                const size_t paren = e.find(L'(');
                s.eventName = Trim(e.substr(0, paren));
                if (paren != std::wstring::npos) {
                    const size_t closeParen = e.rfind(L')');
                    if (closeParen == std::wstring::npos || closeParen < paren)
                        return fail(tagStart, L"bad event \"" + e + L"\"");
                    s.eventArgs = Trim(e.substr(paren + 1, closeParen - paren - 1));
                }
                if (s.forId.empty() || s.eventName.empty()) return fail(tagStart, L"bad for/event binding");
            }
            const size_t after = text.find(L'>', close);
            pos = after == std::wstring::npos ? text.size() : after + 1;
            if (IsJScript(tag)) items.push_back(std::move(item));
        }
    }
    return true;
}

}  // namespace pagehost

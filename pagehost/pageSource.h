// The part of an HTML page that the page host acts on: object tags with their
// params and sizes, script blocks, and script blocks bound to a control's
// event. Everything else in the page is skipped. A plain script file is one
// script block.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace pagehost {

// A width or height attribute: pixels, or a percentage of the host window.
struct Length {
    bool given = false;
    bool percent = false;
    int value = 0;
};

struct ObjectTag {
    std::wstring id;
    std::wstring classId;  // the text after "clsid:", or a ProgID
    std::vector<std::pair<std::wstring, std::wstring>> params;
    Length width;
    Length height;
    int line = 0;  // zero-based line of the tag in the page file
};

struct ScriptBlock {
    std::wstring code;
    int line = 0;             // zero-based line of the code's first character
    std::wstring src;         // <script src=...>: the file the code comes from, as written (relative to the page)
    std::wstring forId;       // <script for=...>: the control
    std::wstring eventName;   // <script event="name(args)">: the event's name
    std::wstring eventArgs;   //   and its argument list, without parentheses
};

struct PageItem {
    enum class Kind { Object, Script } kind;
    ObjectTag object;
    ScriptBlock script;
};

// The page's items in document order.
using PageItems = std::vector<PageItem>;

// Text of a page file: UTF-8 (with or without a byte order mark) or UTF-16 LE
// with its byte order mark.
std::wstring DecodePageText(const std::string& bytes);

// Parses the HTML subset. Returns false with a message ("line N: ...") for a
// tag the host cannot act on, such as an object without an id.
bool ParseHtmlPage(const std::wstring& text, PageItems& items, std::wstring& error);

// A script file: one block starting at line 0.
PageItems ScriptFilePage(const std::wstring& text);

// A length attribute: "300", "300px" or "100%". False for anything else.
bool ParseLength(const std::wstring& text, Length& out);

}  // namespace pagehost

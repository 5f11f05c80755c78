#include "pluginlog/logLine.h"

#include <cstdio>
#include <cstring>

namespace zova::log {

std::string FormatLine(const SYSTEMTIME& time, const char* source, int line,
                       const char* format, va_list args) {
    char stamp[kStampChars];
    sprintf_s(stamp, kStampChars, "%d-%02d-%02d %02d:%02d:%02d.%03d", time.wYear, time.wMonth,
              time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);

    // _vsnprintf_s with _TRUNCATE is the runtime's own vsprintf_s engine, but
    // cuts an over-long message instead of calling the invalid-parameter
    // handler. It also returns -1, with the text produced so far, when a "%S"
    // argument holds a character the C locale cannot convert.
    char message[kMessageChars];
    message[0] = '\0';
    if (format)
        _vsnprintf_s(message, kMessageChars, _TRUNCATE, format, args);
    message[kMessageChars - 1] = '\0';
    // One line whatever the arguments hold: a line break in the message (a
    // page's text, a format's own "\n") becomes a space.
    for (char* c = message; *c; ++c)
        if (*c == '\r' || *c == '\n') *c = ' ';

    char number[16];
    sprintf_s(number, sizeof number, "%d", line);

    std::string text;
    text.reserve(std::strlen(stamp) + (source ? std::strlen(source) : 0) + std::strlen(message) + 24);
    text += stamp;
    text += " [";
    text += source ? source : "";
    text += ':';
    text += number;
    text += "]: ";
    text += message;
    text += '\n';
    return text;
}

std::wstring WidenBytes(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

}  // namespace zova::log

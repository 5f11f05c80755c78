// Building blocks of the log that touch no global state: the text of one
// message line and the byte-wise widening used for the debugger mirror.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

namespace zova::log {

// Sizes of the two fixed buffers of a line: timestamp and expanded message
// (the message keeps at most kMessageChars - 1 characters of text).
constexpr size_t kStampChars = 40;
constexpr size_t kMessageChars = 2048;

// "YYYY-MM-DD hh:mm:ss.mmm [<source>:<line>]: <message>\n". The message is
// expanded with the Microsoft runtime's printf rules; one that does not fit
// is cut, so the line always ends with exactly one "\n".
std::string FormatLine(const SYSTEMTIME& time, const char* source, int line,
                       const char* format, va_list args);

// One wide character per byte (bytes 0x80-0xFF become U+0080-U+00FF).
std::wstring WidenBytes(const std::string& text);

}  // namespace zova::log

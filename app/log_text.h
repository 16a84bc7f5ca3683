// The log's text conversions shared by the front ends.
//
// Log lines are byte strings in Windows-1252 (the degree sign of a reading is
// byte 0xB0). The window shows them as Unicode text; the console writes them
// on one line each with control bytes escaped, so a received line reads
// `received A;12.5\r\n`. Pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace app {

// The Unicode code point a Windows-1252 byte stands for; the five bytes the
// code page leaves undefined map to themselves (C1 controls).
char32_t Windows1252ToCodePoint(unsigned char byte);

// The line as UTF-8 for the console: printable characters decoded from
// Windows-1252, and `\r`, `\n`, `\t`, `\\` and `\xHH` (two upper-case hex
// digits) for a backslash and every control byte (C0, DEL, undefined C1).
std::string EscapeLogLine(std::string_view bytes);

// EscapeLogLine's text appended to `out`, for callers that collect many
// lines in one buffer without a string per line.
void AppendEscapedLogLine(std::string& out, std::string_view bytes);

// The line as UTF-8 for the window: line breaks (CR LF, CR or LF) become
// "\n", a tab stays, and other control bytes show as their Unicode control
// pictures (U+2400 + code, U+2421 for DEL) so nothing silently vanishes.
std::string LogLineToDisplayText(std::string_view bytes);

}  // namespace app

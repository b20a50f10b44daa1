// Conversions between the plug-in's wide text and the UTF-8 the command line
// reads and writes, plus the small text steps the CLI applies to its output.
//
// wchar_t holds UTF-32 on Linux and UTF-16 on Windows; both are handled.
// Failure: nothing fails. Malformed input (a bad UTF-8 sequence, a lone
// surrogate, a code point above U+10FFFF) becomes U+FFFD, so the output is
// always well-formed UTF-8 and always serialisable as JSON.
// Threads: pure functions; any thread.
#ifndef VERSEWELL_CLI_TEXT_CONVERT_H
#define VERSEWELL_CLI_TEXT_CONVERT_H

#include <string>

namespace cli {

std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
// Appends one code point as UTF-8 (U+FFFD for a surrogate or a value above
// U+10FFFF).
void AppendUtf8(std::string& out, char32_t c);
// Appends one code point as wide text (a surrogate pair where wchar_t is
// 16 bits wide).
void AppendWide(std::wstring& out, char32_t c);

// Turns CR LF, and any lone CR, into LF, and makes the text end with exactly
// one LF (an empty text stays empty).
std::string ToUnixLines(const std::string& text);

// White space at both ends removed (ASCII and the Unicode white space set).
std::wstring TrimWide(const std::wstring& text);

// Simple case folding for comparing titles: every letter the platform knows
// a lower-case form for (hostplatform::LowerCase), ASCII-only when it knows
// none.
std::wstring FoldCase(const std::wstring& text);

// Text from the user or a page, fit to be echoed in a message: control
// characters shown as escapes (\n, \t, \r, \xHH, \u0085), and cut to
// `maxChars` characters with "..." after the cut.
constexpr size_t MAX_ECHO_CHARS = 200;
std::string Echo(const std::wstring& text, size_t maxChars = MAX_ECHO_CHARS);
std::string Echo(const std::string& utf8, size_t maxChars = MAX_ECHO_CHARS);

}  // namespace cli

#endif  // VERSEWELL_CLI_TEXT_CONVERT_H

// Writing a diagnostic message that was composed as narrow text.
//
// The message is widened with CAnsiToWide (the calling thread's ANSI code
// page) and written with g_TraceLog.Log. Logging never raises: should the
// widening fail, the bytes are written one character per byte instead, and
// if even that cannot be done the line is dropped. Any thread may call it.
#ifndef VERSEWELL_TEXT_NARROW_MESSAGE_H
#define VERSEWELL_TEXT_NARROW_MESSAGE_H

#include <string>

void LogNarrowMessage(int level, const std::string& message) noexcept;

// `text` narrowed with CWideToAnsi (thread ANSI code page) for insertion into
// a narrow message. Never raises: should the conversion fail, ASCII is kept
// and every other character becomes '?'.
std::string NarrowForMessage(const wchar_t* text) noexcept;

#endif  // VERSEWELL_TEXT_NARROW_MESSAGE_H

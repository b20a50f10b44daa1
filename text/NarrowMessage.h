// Writing a diagnostic message that was composed as narrow text.
//
// The message is widened with CAnsiToWide (the calling thread's ANSI code
// page) and handed to a report sink (text/ReportSink.h): the one passed in,
// or the default one. Reporting never raises: should the widening fail, the
// bytes are reported one character per byte instead, and if even that
// cannot be done the line is dropped. Any thread may call it.
#ifndef VERSEWELL_TEXT_NARROW_MESSAGE_H
#define VERSEWELL_TEXT_NARROW_MESSAGE_H

#include <string>

#include "text/ReportSink.h"

void LogNarrowMessage(ITextReportSink& reports, int level, const std::string& message) noexcept;
// To DefaultTextReports().
void LogNarrowMessage(int level, const std::string& message) noexcept;

// `text` narrowed with CWideToAnsi (thread ANSI code page) for insertion into
// a narrow message. Never raises: should the conversion fail, ASCII is kept
// and every other character becomes '?'.
std::string NarrowForMessage(const wchar_t* text) noexcept;

#endif  // VERSEWELL_TEXT_NARROW_MESSAGE_H

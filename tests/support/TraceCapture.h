// Opens g_TraceLog in a temporary folder for one test and reads back what it
// wrote. The destructor closes the log (without merging) so that tests do not
// leak an open log into each other.
#ifndef VERSEWELL_TESTS_SUPPORT_TRACE_CAPTURE_H
#define VERSEWELL_TESTS_SUPPORT_TRACE_CAPTURE_H

#include <string>
#include <vector>

#include "support/TempDir.h"

class CTraceCapture {
 public:
  // Opens the log with source name `sourceName` at `level`.
  explicit CTraceCapture(int level = 40, const wchar_t* sourceName = L"Test");
  ~CTraceCapture();
  // Every line written so far (without CR LF), prefixes included.
  std::vector<std::wstring> Lines() const;
  // Only the message part: the text after "hh:mm:ss.mmm TID TAG: ".
  std::vector<std::wstring> Messages() const;
  // True when some message contains `text`.
  bool Contains(const std::wstring& text) const;
  // Number of messages equal to `text` (at `level`'s tag when level > 0).
  int Count(const std::wstring& text, int level = 0) const;
  const CTempDir& Dir() const { return m_dir; }
  std::wstring TraceFilePath() const;

 private:
  CTempDir m_dir;
};

#endif

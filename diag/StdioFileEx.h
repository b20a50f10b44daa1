// CStdioFileEx: a buffered text file that reads UTF-16LE files (recognised
// by their byte-order mark FF FE) and files in the system's ANSI code page
// line by line into wide strings, and writes UTF-16LE text files that start
// with the byte-order mark. The log merge reads the trace file and appends
// to the host's log with it.
//
// Opening always works untranslated: typeText is cleared and typeBinary set,
// and the reader and writer handle carriage returns themselves. modeUnicode
// asks for UTF-16 output. A file opened for reading only is examined for the
// mark; Seek re-arms the check, so reading again from position 0 skips the
// mark again.
//
// Ownership: lines are read into the object's two inline buffers of 4096
// elements; a longer line moves to a heap buffer owned by the read call and
// released before it returns, also when an exception passes through.
// Failure: Open without an exception object reports failure by its result
// only. Errors of the stream while a line is read end the line like the end
// of the file. Errors of Read and Write (the mark, writing) raise
// CFileException. A null path or text raises CInvalidArgException.
// Threads: one object belongs to one thread at a time.
#ifndef VERSEWELL_DIAG_STDIO_FILE_EX_H
#define VERSEWELL_DIAG_STDIO_FILE_EX_H

#include <cstddef>

#include "platform/File.h"

class CStdioFileEx : public CStdioFile {
 public:
  static constexpr UINT modeUnicode = 0x200000;
  static constexpr size_t LINE_BUFFER_SIZE = 4096;
  static constexpr size_t LINE_GROWTH_STEP = 128;

  CStdioFileEx();
  // Opens at once; raises CFileException on failure.
  CStdioFileEx(const wchar_t* fileName, UINT openFlags);
  ~CStdioFileEx() override;

  void SetFilePath(const wchar_t* path) override;
  BOOL Open(const wchar_t* fileName, UINT openFlags, CFileException* error = nullptr) override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  // With modeUnicode: the byte-order mark first when the position is 0,
  // then the text's UTF-16LE code units, no terminator, no translation.
  // Without: the text in the file's code page.
  void WriteString(const wchar_t* text) override;
  // One line without its line feed and without one carriage return before
  // it; false (and an empty line) at the end of the file.
  BOOL ReadString(CString& line) override;
  // As CStdioFile::ReadString.
  wchar_t* ReadString(wchar_t* buffer, UINT maxChars) override;

  bool IsFileUnicodeText() const { return m_bIsUnicodeText; }

 protected:
  bool ReadWideLine(CString& line);
  bool ReadNarrowLine(CString& line);

  bool m_bIsUnicodeText;
  UINT m_nFlags;
  int m_nFileCodePage;
  wchar_t m_szWideLine[LINE_BUFFER_SIZE];
  char m_szNarrowLine[LINE_BUFFER_SIZE];
  bool m_bCheckStart;
};

// Returns a buffer of at least `wanted` elements holding the first `size`
// elements of `buffer`: `buffer` itself when `size` >= `wanted`, else a new
// zero-filled heap array. The old array is released when `allocated` says
// the reader allocated it (inline buffers never are); `allocated` is then
// true. On a failed allocation std::bad_alloc leaves everything unchanged.
template <typename T>
T* GrowLineBuffer(T* buffer, size_t size, size_t wanted, bool& allocated);

#endif  // VERSEWELL_DIAG_STDIO_FILE_EX_H

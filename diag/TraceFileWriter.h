// CTraceFileWriter: the one per-process writer behind the trace log.
//
// It owns the trace file handle, the level threshold, the file's base name
// and path, and a spin lock keyed on the owning thread's id. It filters by
// level, formats the line prefix, creates the file on the first line that
// passes the filter, starts a new file at the first line of a later local
// calendar day, writes UTF-16LE text and echoes each line to the debugger
// output.
//
// Lifetime: the single instance lives in static storage with constant
// initialisation and a trivial destructor, so it exists before any static
// constructor runs and its file path stays readable through every static
// destructor (the log merge at unload reads it). Teardown() releases the
// handle and the base name explicitly.
// Failure: nothing here throws to callers; a file that cannot be created is
//   retried at the next line. A write that fails part-way leaves a torn
//   line, which the next line ends (padding a torn two-byte unit) before it
//   is written itself.
// Threads: every public operation takes the spin lock for its body (Write
//   only after the level filter). Callers that also hold CTraceLog::m_cs take
//   it first.
#ifndef VERSEWELL_DIAG_TRACE_FILE_WRITER_H
#define VERSEWELL_DIAG_TRACE_FILE_WRITER_H

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Types.h"

class CTraceFileWriter {
 public:
  static constexpr int FILE_PATH_CAPACITY = 1001;  // wide characters, terminator included

  static CTraceFileWriter& Instance();

  // Closes the current file and replaces the base name (folder + stem).
  // No file is created until a line passes the filter.
  void SetBaseName(const wchar_t* path);
  // The threshold becomes `level`, or 0 when `level` is 0 or negative.
  void SetThreshold(int level);
  int GetThreshold() const { return nThreshold.load(std::memory_order_relaxed); }
  // Copies the current (or last) file path into `buffer` of `capacity` wide
  // characters; an empty string when it does not fit with its terminator.
  void GetFilePath(wchar_t* buffer, int capacity);
  void CloseFile();
  // Writes one line (printf-style, Windows wide conventions) when `level`
  // passes the threshold.
  void Write(int level, const wchar_t* format, ...);
  void WriteV(int level, const wchar_t* format, va_list args);
  // Writes `text` unchanged as the message of one line.
  void WriteText(int level, const wchar_t* text);
  // Closes the handle and frees the base name; the file path stays.
  void Teardown();

  static const wchar_t* LevelTag(int level);

  // Fields, public for the constant initialisation that keeps the writer
  // alive through static destruction. Use the operations above.
  platform::FileHandle hFile;
  bool bEchoToDebugger;
  std::atomic<int> nThreshold;
  std::atomic<DWORD> dwOwnerThread;
  wchar_t* pszBaseName;
  platform::SYSTEMTIME stFileTime;
  wchar_t szFilePath[FILE_PATH_CAPACITY];
  // Bytes that reached the current file, and whether the last line was cut
  // short by a failed write: the next line first completes the byte-order
  // mark or ends the torn line, so that one failed write never leaves the
  // rest of the file out of step.
  uint64_t nFileBytes;
  bool bLineCut;

 private:
  friend struct CTraceFileWriterAccess;
  void AcquireSpin();
  void ReleaseSpin();
  platform::FileHandle CreateTraceFile();
  void WriteLine(int level, const wchar_t* message);
};

#endif  // VERSEWELL_DIAG_TRACE_FILE_WRITER_H

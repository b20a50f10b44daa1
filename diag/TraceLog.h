// CTraceLog: the plug-in's diagnostic channel, and the process-wide
// g_TraceLog through which every part of the system reports.
//
// Until Open() is given a folder every logging call is dropped. Open() names
// the trace file (folder + source name + date, time and process id), sets a
// default parent log path and the level; lines are filtered and written by
// CTraceFileWriter. CloseAndMerge() (diag/LogMerge.cpp) appends the trace
// file to the host's parent log.
//
// Lifetime: g_TraceLog is constructed before and destroyed after every other
// static object of the library; its destructor performs CloseAndMerge once
// more and then tears the writer down.
// Failure: logging never throws to its callers and reports nothing; a file
//   that cannot be created is retried at the next line. Construction raises
//   std::bad_alloc when the lock cannot be created.
// Threads: any thread may call any operation. m_cs serialises the
//   operations and guards m_bOpen and m_strParentLogPath; the writer's spin
//   lock is always taken after m_cs, never before.
#ifndef VERSEWELL_DIAG_TRACE_LOG_H
#define VERSEWELL_DIAG_TRACE_LOG_H

#include <versewell/cstring.h>

#include "diag/TraceLevels.h"
#include "platform/Sync.h"
#include "platform/Types.h"
#include "text/ReportSink.h"

class CTraceLog {
 public:
  static constexpr int TRACE_PATH_CAPACITY = 261;  // GetTraceFilePath buffer, terminator included

  CTraceLog();
  ~CTraceLog();
  CTraceLog(const CTraceLog&) = delete;
  CTraceLog& operator=(const CTraceLog&) = delete;

  // Writes `text` unchanged (percent signs included) at `level`. Null: no-op.
  void Log(int level, const wchar_t* text);
  // Writes `text`, " GetLastError():", `errorCode` in signed decimal, ", "
  // and the system's English text for the code.
  void LogLastError(int level, const wchar_t* text, DWORD errorCode);

  // Opens the log with `folder` when it is closed and the folder is not
  // empty; sets the default parent log path and the level.
  void Open(const wchar_t* folder, const wchar_t* sourceName, int level);
  // "Error" 10, "Warning" 20, "Info" 30, "Debug"/"Detail"/"Verbose" 40,
  // anything else 10.
  void SetLevelName(const wchar_t* levelName);
  void SetLevel(int level);
  static int LevelFromName(const wchar_t* levelName);
  // Closes the trace file; later lines are dropped until the next Open.
  void Close();
  // The current (or last) trace file path; empty when it has
  // TRACE_PATH_CAPACITY characters or more, or none was formed yet.
  CString GetTraceFilePath();
  // Closes the log and appends the trace file to the parent log.
  void CloseAndMerge();

  // The host's parent log path ("ParentLogfilePath"), serialised with the
  // merge under m_cs.
  void SetParentLogPath(const CString& path);
  CString GetParentLogPath();
  bool IsOpen();
  // Whether a line at `level` would be written now: the log is open and the
  // level passes the threshold. Lets a caller skip composing a costly message
  // that would be dropped (the answer may be stale by the time it logs).
  bool WillWrite(int level);

 private:
  bool m_bOpen;
  CString m_strParentLogPath;
  CCriticalSection m_cs;
};

extern CTraceLog g_TraceLog;

// g_TraceLog as the text routines' report sink (text/ReportSink.h). It is
// also their default sink from the start of the program on.
ITextReportSink& TraceLogReports();

// Formats printf-style (Windows wide conventions: %s takes const wchar_t*)
// and logs the result on g_TraceLog. A null format does nothing.
void TraceFormat(int level, const wchar_t* format, ...);

// Appends the platform's path separator to a non-empty path that does not
// already end in one; an empty path stays empty.
CString AppendBackslash(const CString& path);

#endif  // VERSEWELL_DIAG_TRACE_LOG_H

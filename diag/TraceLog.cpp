#include "diag/TraceLog.h"

#include <cstdarg>
#include <vector>

#include "diag/TraceFileWriter.h"
#include "platform/Clock.h"
#include "platform/ErrorText.h"
#include "platform/Export.h"
#include "platform/Path.h"
#include "platform/Process.h"

VERSEWELL_INIT_FIRST CTraceLog g_TraceLog;

namespace {

static_assert(TEXT_REPORT_ERROR == TRACE_ERROR && TEXT_REPORT_WARNING == TRACE_WARNING,
              "text reports use the trace levels");

class CTraceLogReports : public ITextReportSink {
 public:
  bool WillReport(int level) override { return g_TraceLog.WillWrite(level); }
  void Report(int level, const wchar_t* message) override { g_TraceLog.Log(level, message); }
};

// Right after g_TraceLog (same priority, same file): text routines that run
// later in static initialisation already report to the log.
struct SInstallTraceLogReports {
  SInstallTraceLogReports() { SetDefaultTextReports(&TraceLogReports()); }
};
VERSEWELL_INIT_FIRST SInstallTraceLogReports g_installTraceLogReports;

}  // namespace

ITextReportSink& TraceLogReports() {
  static CTraceLogReports reports;
  return reports;
}

CTraceLog::CTraceLog() : m_bOpen(false) {}

CTraceLog::~CTraceLog() {
  try {
    CloseAndMerge();
  } catch (...) {
    // A destructor at unload must not throw into the loader.
  }
  CTraceFileWriter::Instance().Teardown();
}

void CTraceLog::Log(int level, const wchar_t* text) {
  CSingleLock lock(m_cs);
  if (text == nullptr || !m_bOpen) return;
  // The writer takes the text as a literal message, so percent signs in it
  // are never interpreted as a format.
  CTraceFileWriter::Instance().WriteText(level, text);
}

void CTraceLog::LogLastError(int level, const wchar_t* text, DWORD errorCode) {
  std::wstring systemText = platform::FormatSystemMessage(errorCode, 0x0409);
  CString message(text != nullptr ? text : L"");
  message += L" GetLastError():";
  CString code;
  code.Format(L"%d", static_cast<int>(errorCode));
  message += code;
  message += L", ";
  message += systemText.c_str();
  CSingleLock lock(m_cs);
  if (!m_bOpen) return;
  CTraceFileWriter::Instance().WriteText(level, message.GetString());
}

void CTraceLog::Open(const wchar_t* folder, const wchar_t* sourceName, int level) {
  CSingleLock lock(m_cs);
  if (m_bOpen) return;
  CString strFolder(folder);
  if (strFolder.IsEmpty()) return;
  strFolder = AppendBackslash(strFolder);
  platform::SYSTEMTIME now{};
  platform::GetLocalTime(now);
  CString parent;
  parent.Format(L"%04d%02d%02d_%02d%02d%02d_%X.txt", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                now.wSecond, platform::GetCurrentProcessId());
  m_strParentLogPath = strFolder + parent;
  CTraceFileWriter::Instance().SetBaseName((strFolder + CString(sourceName)).GetString());
  SetLevel(level);
  m_bOpen = true;
}

int CTraceLog::LevelFromName(const wchar_t* levelName) {
  CString name(levelName);
  if (name == L"Error") return TRACE_ERROR;
  if (name == L"Warning") return TRACE_WARNING;
  if (name == L"Info") return TRACE_INFO;
  if (name == L"Debug" || name == L"Detail" || name == L"Verbose") return TRACE_DEBUG;
  return TRACE_ERROR;
}

void CTraceLog::SetLevelName(const wchar_t* levelName) { SetLevel(LevelFromName(levelName)); }

void CTraceLog::SetLevel(int level) { CTraceFileWriter::Instance().SetThreshold(level); }

void CTraceLog::Close() {
  CSingleLock lock(m_cs);
  if (m_bOpen) CTraceFileWriter::Instance().CloseFile();
  m_bOpen = false;
}

CString CTraceLog::GetTraceFilePath() {
  CSingleLock lock(m_cs);
  wchar_t buffer[TRACE_PATH_CAPACITY];
  buffer[0] = L'\0';
  CTraceFileWriter::Instance().GetFilePath(buffer, TRACE_PATH_CAPACITY);
  return CString(buffer);
}

void CTraceLog::SetParentLogPath(const CString& path) {
  CSingleLock lock(m_cs);
  m_strParentLogPath = path;
}

CString CTraceLog::GetParentLogPath() {
  CSingleLock lock(m_cs);
  return m_strParentLogPath;
}

bool CTraceLog::IsOpen() {
  CSingleLock lock(m_cs);
  return m_bOpen;
}

bool CTraceLog::WillWrite(int level) {
  CSingleLock lock(m_cs);
  const int threshold = CTraceFileWriter::Instance().GetThreshold();
  return m_bOpen && threshold != 0 && level <= threshold;
}

void TraceFormat(int level, const wchar_t* format, ...) {
  if (format == nullptr) return;
  CString text;
  va_list args;
  va_start(args, format);
  text.FormatV(format, args);
  va_end(args);
  g_TraceLog.Log(level, text.GetString());
}

CString AppendBackslash(const CString& path) {
  if (path.IsEmpty()) return path;
  if (path.GetAt(path.GetLength() - 1) == platform::PATH_SEPARATOR) return path;
  return path + platform::PATH_SEPARATOR_STRING;
}

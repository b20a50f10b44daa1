// CTraceLog::CloseAndMerge: closes the trace file and appends it to the
// host's parent log as a block (an empty line, the trace file's name on a
// line of its own, then its lines), then deletes the trace file, but only
// when every one of its lines reached the parent log and was flushed to
// disk: a parent log that cannot be opened, a failed write or a failed flush
// leaves the trace file on disk so that no line is lost.
//
// Runs from the method "CloseAndMergeLog" and from g_TraceLog's destructor
// at unload or process exit; everything it uses (the file classes, the file
// layer and the writer's path) stays usable through static destruction.
#include "diag/StdioFileEx.h"
#include "diag/TraceLog.h"
#include "diag/Utf16.h"
#include "platform/FileIo.h"

namespace {

// Write, deny other writers, create when missing, never truncate, text,
// UTF-16 output.
constexpr UINT PARENT_LOG_OPEN_FLAGS = CFile::modeWrite | CFile::shareDenyWrite | CFile::modeCreate |
                                       CFile::modeNoTruncate | CFile::typeText | CStdioFileEx::modeUnicode;
static_assert(PARENT_LOG_OPEN_FLAGS == 0x207021, "parent log open flags");

// A UTF-16 parent log (one that starts with FF FE) of odd length ends in a
// block torn mid-unit by an earlier failed merge; one zero byte completes
// that unit so that the block appended now is not read out of step. Logs
// in other encodings are left exactly as they are.
void RealignTornUtf16(CStdioFileEx& parentLog, const CString& path) {
  if (parentLog.GetLength() % 2 == 0) return;
  CFile probe;
  unsigned char mark[2] = {0, 0};
  if (!probe.Open(path.GetString(), CFile::modeRead | CFile::shareDenyNone) || probe.Read(mark, 2) != 2) return;
  probe.Close();
  if (mark[0] != UTF16LE_BOM[0] || mark[1] != UTF16LE_BOM[1]) return;
  const char zero = 0;
  parentLog.Write(&zero, 1);
}

}  // namespace

void CTraceLog::CloseAndMerge() {
  Close();
  const CString strOwnPath = GetTraceFilePath();

  CSingleLock lock(m_cs);
  if (strOwnPath.IsEmpty() || m_strParentLogPath.IsEmpty()) return;

  bool bAllAppended = false;
  CStdioFileEx parentLog;
  CStdioFileEx ownLog;
  try {
    // No exception object: a file that cannot be opened just stays closed.
    parentLog.Open(m_strParentLogPath.GetString(), PARENT_LOG_OPEN_FLAGS);
    ownLog.Open(strOwnPath.GetString(), CFile::typeText);
    // A parent log that is the trace file itself would grow while it is
    // read, without end; such a merge is not attempted.
    if (parentLog.IsOpen() && ownLog.IsOpen() &&
        !platform::CurrentFileIo().IsSameFile(parentLog.m_hFile, ownLog.m_hFile)) {
      parentLog.SeekToEnd();
      RealignTornUtf16(parentLog, m_strParentLogPath);
      parentLog.WriteString((L"\r\n" + ownLog.GetFileName() + L"\r\n").GetString());
      CString strLine;
      while (ownLog.ReadString(strLine)) {
        strLine += L"\r\n";
        parentLog.WriteString(strLine.GetString());
      }
      // A read error ends the lines like the end of the file; only a reader
      // that got to the end (a lone odd byte is no line) has copied them all.
      bAllAppended = ownLog.GetPosition() + 1 >= ownLog.GetLength();
    }
    // The trace file goes only once its lines are on disk in the parent log:
    // a failed flush (like a failed write) throws and keeps it.
    if (bAllAppended) parentLog.Flush();
    parentLog.Close();
    ownLog.Close();
  } catch (...) {
    // Nothing is logged: the log is closed. What was written stays written.
    parentLog.Abort();
    ownLog.Abort();
    bAllAppended = false;
  }
  if (bAllAppended) platform::DeleteFile(strOwnPath.Str());
}

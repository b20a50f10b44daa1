#include "diag/TraceFileWriter.h"

#include <cstring>
#include <cwchar>
#include <string>

#include <versewell/cstring.h>

#include "diag/Utf16.h"
#include "platform/DebugOutput.h"
#include "platform/Process.h"
#include "platform/Sync.h"

namespace {

// Constant-initialised, trivially destructible: see the header.
CTraceFileWriter g_writer = {platform::INVALID_FILE_HANDLE, true, {0}, {0}, nullptr, {}, {}, 0, false};

bool IsOpenHandle(platform::FileHandle h) { return h != platform::INVALID_FILE_HANDLE && h != 0; }


}  // namespace

CTraceFileWriter& CTraceFileWriter::Instance() { return g_writer; }

void CTraceFileWriter::AcquireSpin() {
  const DWORD self = platform::GetCurrentThreadId();
  for (;;) {
    if (dwOwnerThread.load() == self) return;
    platform::InterlockedCompareExchange(dwOwnerThread, self, 0);
    if (dwOwnerThread.load() == self) return;
    platform::Sleep(25);
  }
}

void CTraceFileWriter::ReleaseSpin() {
  platform::InterlockedCompareExchange(dwOwnerThread, 0, platform::GetCurrentThreadId());
}

void CTraceFileWriter::SetBaseName(const wchar_t* path) {
  AcquireSpin();
  if (IsOpenHandle(hFile)) platform::CloseHandle(hFile);
  hFile = platform::INVALID_FILE_HANDLE;
  const wchar_t* text = path != nullptr ? path : L"";
  size_t n = std::wcslen(text);
  wchar_t* copy = new (std::nothrow) wchar_t[n + 1];
  if (copy != nullptr) std::wmemcpy(copy, text, n + 1);
  delete[] pszBaseName;
  pszBaseName = copy;
  ReleaseSpin();
}

void CTraceFileWriter::SetThreshold(int level) {
  AcquireSpin();
  nThreshold.store(level > 0 ? level : 0, std::memory_order_relaxed);
  ReleaseSpin();
}

void CTraceFileWriter::GetFilePath(wchar_t* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return;
  AcquireSpin();
  size_t n = std::wcslen(szFilePath);
  if (n + 1 <= static_cast<size_t>(capacity))
    std::wmemcpy(buffer, szFilePath, n + 1);
  else
    buffer[0] = L'\0';
  ReleaseSpin();
}

void CTraceFileWriter::CloseFile() {
  AcquireSpin();
  if (IsOpenHandle(hFile)) platform::CloseHandle(hFile);
  hFile = platform::INVALID_FILE_HANDLE;
  ReleaseSpin();
}

void CTraceFileWriter::Teardown() {
  AcquireSpin();
  if (IsOpenHandle(hFile)) platform::CloseHandle(hFile);
  hFile = platform::INVALID_FILE_HANDLE;
  delete[] pszBaseName;
  pszBaseName = nullptr;
  ReleaseSpin();
}

const wchar_t* CTraceFileWriter::LevelTag(int level) {
  static const wchar_t* const kTags[] = {L"", L"ERR", L"WRN", L"INF", L"DBG", L"-->", L"---"};
  int row = (level >= 0 && level < 70) ? level / 10 : 0;
  return kTags[row];
}

platform::FileHandle CTraceFileWriter::CreateTraceFile() {
  platform::SYSTEMTIME now{};
  platform::GetLocalTime(now);
  CString path;
  path.Format(L"%s_%04d%02d%02d_%02d%02d%02d_%X.txt", pszBaseName != nullptr ? pszBaseName : L"Trace",
              now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
              platform::GetCurrentProcessId());
  if (path.GetLength() + 1 > FILE_PATH_CAPACITY) {
    // Too long for the path buffer: never open the file under a cut name.
    szFilePath[0] = L'\0';
    return platform::INVALID_FILE_HANDLE;
  }
  std::wmemcpy(szFilePath, path.GetString(), static_cast<size_t>(path.GetLength()) + 1);
  platform::FileHandle h = platform::CreateFileAlways(path.GetString());
  nFileBytes = 0;
  bLineCut = false;
  if (IsOpenHandle(h)) {
    stFileTime = now;
    DWORD written = 0;
    platform::WriteFile(h, UTF16LE_BOM, 2, &written);
    nFileBytes = written;
  }
  return h;
}

void CTraceFileWriter::Write(int level, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(level, format, args);
  va_end(args);
}

void CTraceFileWriter::WriteV(int level, const wchar_t* format, va_list args) {
  if (format == nullptr) return;
  int threshold = nThreshold.load(std::memory_order_relaxed);
  if (threshold == 0 || level > threshold) return;
  CString message;
  message.FormatV(format, args);
  WriteLine(level, message.GetString());
}

void CTraceFileWriter::WriteText(int level, const wchar_t* text) {
  if (text == nullptr) return;
  int threshold = nThreshold.load(std::memory_order_relaxed);
  if (threshold == 0 || level > threshold) return;
  WriteLine(level, text);
}

void CTraceFileWriter::WriteLine(int level, const wchar_t* message) {
  AcquireSpin();
  const wchar_t* tag = LevelTag(level);
  platform::SYSTEMTIME now{};
  platform::GetLocalTime(now);
  if (hFile == platform::INVALID_FILE_HANDLE) {
    hFile = CreateTraceFile();
  } else if (now.wYear != stFileTime.wYear || now.wMonth != stFileTime.wMonth || now.wDay != stFileTime.wDay) {
    if (IsOpenHandle(hFile)) platform::CloseHandle(hFile);
    hFile = platform::INVALID_FILE_HANDLE;
    hFile = CreateTraceFile();
  }
  if (hFile != 0) {
    CString line;
    line.Format(L"%02d:%02d:%02d.%03d %X %s: ", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                dwOwnerThread.load(), tag);
    line += message;
    line += L"\r\n";
    if (IsOpenHandle(hFile)) {
      std::string bytes;
      if (nFileBytes < 2) {
        // The byte-order mark did not get out whole: finish it first.
        bytes.append(reinterpret_cast<const char*>(UTF16LE_BOM) + nFileBytes, 2 - static_cast<size_t>(nFileBytes));
      } else if (bLineCut) {
        // End the torn line, completing a torn two-byte unit.
        if (nFileBytes % 2 != 0) bytes += '\0';
        AppendUtf16Le(L"\r\n", 2, bytes);
      }
      AppendUtf16Le(line.GetString(), static_cast<size_t>(line.GetLength()), bytes);
      DWORD written = 0;
      // The result is otherwise ignored: logging reports nothing. A write
      // that stored nothing leaves the file as it was.
      platform::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
      nFileBytes += written;
      if (written > 0) bLineCut = written < bytes.size();
    }
    if (bEchoToDebugger) platform::OutputDebugStringW(line.GetString());
  }
  ReleaseSpin();
}

#include "diag/StdioFileEx.h"

#include <cstring>
#include <new>

#include "diag/Utf16.h"
#include "text/CodePageConversion.h"
#include "text/SmartPtrArray.h"

namespace {

// A line buffer that starts on an inline array and may move to the heap;
// a heap array is released when the reading call ends, however it ends.
template <typename T>
struct CLineBuffer {
  T* pData;
  size_t nCapacity;
  bool bAllocated;
  CLineBuffer(T* inlineBuffer, size_t capacity) : pData(inlineBuffer), nCapacity(capacity), bAllocated(false) {}
  ~CLineBuffer() {
    if (bAllocated) delete[] pData;
  }
  CLineBuffer(const CLineBuffer&) = delete;
  CLineBuffer& operator=(const CLineBuffer&) = delete;

  // Grows in whole steps of LINE_GROWTH_STEP, taking as many steps at once
  // as the buffer already holds, so that a line of any length is read in
  // time linear in its length.
  void Grow(size_t used) {
    size_t steps = nCapacity / CStdioFileEx::LINE_GROWTH_STEP;
    size_t wanted = nCapacity + CStdioFileEx::LINE_GROWTH_STEP * (steps > 0 ? steps : 1);
    pData = GrowLineBuffer(pData, used, wanted, bAllocated);
    nCapacity = wanted;
  }
};

// Reads one line with `readChunk` (an fgets/fgetws equivalent that stops
// after a line feed) into `buffer`, growing it until the line feed or the
// end of the file. Returns false when nothing could be read; `length`
// receives the characters read, the line feed excluded.
template <typename T, typename ReadChunk>
bool ReadLineInto(CLineBuffer<T>& buffer, ReadChunk readChunk, size_t& length) {
  length = 0;
  size_t got = 0;
  // One element stays free for the terminator.
  if (!readChunk(buffer.pData, buffer.nCapacity - 1, &got)) return false;
  length = got;
  while (buffer.pData[length - 1] != static_cast<T>('\n')) {
    // A short read without a line feed means the end of the file.
    if (length < buffer.nCapacity - 1) break;
    buffer.Grow(length);
    if (!readChunk(buffer.pData + length, buffer.nCapacity - 1 - length, &got)) break;
    length += got;
  }
  if (buffer.pData[length - 1] == static_cast<T>('\n')) --length;
  buffer.pData[length] = static_cast<T>(0);
  return true;
}

}  // namespace

template <typename T>
T* GrowLineBuffer(T* buffer, size_t size, size_t wanted, bool& allocated) {
  if (size >= wanted) return buffer;
  T* grown = new T[wanted]();
  if (buffer != nullptr && size > 0) std::memcpy(grown, buffer, size * sizeof(T));
  if (allocated) delete[] buffer;
  allocated = true;
  return grown;
}

template char* GrowLineBuffer<char>(char*, size_t, size_t, bool&);
template wchar_t* GrowLineBuffer<wchar_t>(wchar_t*, size_t, size_t, bool&);

CStdioFileEx::CStdioFileEx()
    : m_bIsUnicodeText(false), m_nFlags(0), m_nFileCodePage(CODEPAGE_SYSTEM_ANSI), m_bCheckStart(true) {
  m_szWideLine[0] = L'\0';
  m_szNarrowLine[0] = '\0';
}

CStdioFileEx::CStdioFileEx(const wchar_t* fileName, UINT openFlags) : CStdioFileEx() {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) throw error;
}

CStdioFileEx::~CStdioFileEx() = default;

void CStdioFileEx::SetFilePath(const wchar_t* path) {
  if (path == nullptr) throw CInvalidArgException();
  CStdioFile::SetFilePath(path);
}

BOOL CStdioFileEx::Open(const wchar_t* fileName, UINT openFlags, CFileException* error) {
  m_bIsUnicodeText = (openFlags & modeUnicode) != 0;
  UINT flags = openFlags;
  if ((flags & typeText) != 0) flags &= ~static_cast<UINT>(typeText);
  flags |= typeBinary;
  m_nFlags = flags;

  BOOL opened = CStdioFile::Open(fileName, flags, error);
  if (!opened || (flags & (modeCreate | modeWrite)) != 0) return opened;

  unsigned char mark[2] = {0, 0};
  UINT read = Read(mark, 2);
  m_bIsUnicodeText = read == 2 && mark[0] == UTF16LE_BOM[0] && mark[1] == UTF16LE_BOM[1];
  Seek(0, begin);
  return opened;
}

ULONGLONG CStdioFileEx::Seek(LONGLONG offset, UINT from) {
  m_bCheckStart = true;
  return CStdioFile::Seek(offset, from);
}

BOOL CStdioFileEx::ReadString(CString& line) {
  if (m_bCheckStart && m_bIsUnicodeText && GetPosition() == 0) {
    unsigned char mark[2];
    Read(mark, 2);
  }
  bool got = m_bIsUnicodeText ? ReadWideLine(line) : ReadNarrowLine(line);
  if (!got) {
    line.Empty();
    return 0;
  }
  if (!line.IsEmpty() && line.GetAt(line.GetLength() - 1) == L'\r') line.Str().pop_back();
  m_bCheckStart = false;
  return 1;
}

wchar_t* CStdioFileEx::ReadString(wchar_t* buffer, UINT maxChars) { return CStdioFile::ReadString(buffer, maxChars); }

bool CStdioFileEx::ReadWideLine(CString& line) {
  CLineBuffer<wchar_t> buffer(m_szWideLine, LINE_BUFFER_SIZE);
  size_t length = 0;
  bool got = ReadLineInto(
      buffer, [this](wchar_t* out, size_t max, size_t* count) { return StreamReadWide(out, max, count); }, length);
  if (!got) return false;
  line = CString(std::wstring(buffer.pData, length));
  return true;
}

bool CStdioFileEx::ReadNarrowLine(CString& line) {
  CLineBuffer<char> buffer(m_szNarrowLine, LINE_BUFFER_SIZE);
  size_t length = 0;
  bool got = ReadLineInto(
      buffer, [this](char* out, size_t max, size_t* count) { return StreamReadNarrow(out, max, count); }, length);
  if (!got) {
    line.Empty();
    return false;
  }
  CTemplateSmartPtrArray<wchar_t> wide(m_szWideLine, false);
  int converted = ToWideGrow(buffer.pData, wide, static_cast<int>(LINE_BUFFER_SIZE), m_nFileCodePage);
  if (converted > 0)
    line = CString(wide.Get(), converted);
  else
    line.Empty();
  return true;
}

void CStdioFileEx::WriteString(const wchar_t* text) {
  if (text == nullptr) throw CInvalidArgException();
  if ((m_nFlags & modeUnicode) != 0) {
    if (GetPosition() == 0) Write(UTF16LE_BOM, 2);
    CStdioFile::WriteString(text);
    return;
  }
  CTemplateSmartPtrArray<char> narrow(m_szNarrowLine, false);
  int bytes = ToNarrowGrow(text, narrow, static_cast<int>(LINE_BUFFER_SIZE), m_nFileCodePage, '?');
  if (bytes > 0) Write(narrow.Get(), static_cast<UINT>(bytes));
}

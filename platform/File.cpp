// CFile, CStdioFile and CFileException over platform/FileIo.h. Shared by
// every target: nothing here touches the operating system directly.
#include "platform/File.h"

#include <cstring>
#include <string>

#include "platform/ErrorText.h"
#include "platform/FileIo.h"
#include "platform/Path.h"

using platform::CurrentFileIo;

// ---------------------------------------------------------------------------
// CFileException
// ---------------------------------------------------------------------------

namespace {

// The framework's texts, one per cause; %1 stands for the file name.
const wchar_t* const kCauseTexts[] = {
    L"No error occurred.",
    L"An unknown error occurred while accessing %1.",
    L"%1 was not found.",
    L"%1 contains an incorrect path.",
    L"%1 could not be opened because there are too many open files.",
    L"Access to %1 was denied.",
    L"An incorrect file handle was associated with %1.",
    L"%1 could not be removed because it is the current directory.",
    L"%1 could not be created because the directory is full.",
    L"Seek failed on %1",
    L"A hardware I/O error was reported while accessing %1.",
    L"A sharing violation occurred while accessing %1.",
    L"A locking violation occurred while accessing %1.",
    L"Disk full while accessing %1.",
    L"An attempt was made to access %1 past its end.",
};

}  // namespace

CString CFileException::GetErrorMessage() const {
  int cause = m_cause;
  if (cause < none || cause > endOfFile) cause = genericException;
  CString text(kCauseTexts[cause]);
  text.Replace(L"%1", m_strFileName.IsEmpty() ? L"an unnamed file" : m_strFileName.GetString());
  return text;
}

BOOL CFileException::GetErrorMessage(wchar_t* buffer, UINT maxChars, UINT* helpContext) const {
  if (helpContext != nullptr) *helpContext = 0;
  if (buffer == nullptr || maxChars == 0) return 0;
  CString text = GetErrorMessage();
  size_t n = static_cast<size_t>(text.GetLength());
  if (n > maxChars - 1) n = maxChars - 1;
  std::wmemcpy(buffer, text.GetString(), n);
  buffer[n] = L'\0';
  return 1;
}

int CFileException::OsErrorToException(long osError) {
  switch (static_cast<DWORD>(osError)) {
    case platform::ERROR_SUCCESS: return none;
    case platform::ERROR_FILE_NOT_FOUND: return fileNotFound;
    case platform::ERROR_PATH_NOT_FOUND: return badPath;
    case platform::ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case platform::ERROR_ACCESS_DENIED: return accessDenied;
    case platform::ERROR_INVALID_HANDLE: return fileNotFound;
    case platform::ERROR_INVALID_NAME:
    case platform::ERROR_FILENAME_EXCED_RANGE: return badPath;
    case platform::ERROR_NEGATIVE_SEEK: return badSeek;
    case platform::ERROR_WRITE_FAULT:
    case platform::ERROR_READ_FAULT: return hardIO;
    case platform::ERROR_SHARING_VIOLATION: return sharingViolation;
    case platform::ERROR_LOCK_VIOLATION: return lockViolation;
    case platform::ERROR_HANDLE_DISK_FULL:
    case platform::ERROR_DISK_FULL: return diskFull;
    case platform::ERROR_HANDLE_EOF: return endOfFile;
    default: return genericException;
  }
}

void CFileException::ThrowOsError(long osError, const wchar_t* fileName) {
  throw CFileException(OsErrorToException(osError), osError, fileName);
}

// ---------------------------------------------------------------------------
// CFile
// ---------------------------------------------------------------------------

CFile::CFile() : m_hFile(hFileNull) {}

CFile::CFile(const wchar_t* fileName, UINT openFlags) : m_hFile(hFileNull) {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) throw error;
}

CFile::~CFile() { CFile::Abort(); }

void CFile::ThrowLastError() const {
  CFileException::ThrowOsError(static_cast<long>(platform::GetLastError()), m_strFileName.GetString());
}

void CFile::SetFilePath(const wchar_t* newName) {
  if (newName == nullptr) throw CInvalidArgException();
  m_strFileName = newName;
}

BOOL CFile::Open(const wchar_t* fileName, UINT openFlags, CFileException* error) {
  if (IsOpen()) Abort();
  const CString path(fileName);
  m_strFileName = path;

  DWORD access = 0;
  switch (openFlags & 0x3) {
    case modeRead: access = platform::FILE_ACCESS_READ; break;
    case modeWrite: access = platform::FILE_ACCESS_WRITE; break;
    case modeReadWrite: access = platform::FILE_ACCESS_READ | platform::FILE_ACCESS_WRITE; break;
    default: access = 0; break;
  }
  DWORD share = platform::FILE_SHARE_NONE;
  bool validShare = true;
  switch (openFlags & 0x70) {
    case shareCompat:
    case shareDenyNone: share = platform::FILE_SHARE_READ_ACCESS | platform::FILE_SHARE_WRITE_ACCESS; break;
    case shareExclusive: share = platform::FILE_SHARE_NONE; break;
    case shareDenyWrite: share = platform::FILE_SHARE_READ_ACCESS; break;
    case shareDenyRead: share = platform::FILE_SHARE_WRITE_ACCESS; break;
    default: validShare = false; break;
  }
  DWORD disposition = platform::DISPOSITION_OPEN_EXISTING;
  if ((openFlags & modeCreate) != 0)
    disposition = (openFlags & modeNoTruncate) != 0 ? platform::DISPOSITION_OPEN_ALWAYS
                                                    : platform::DISPOSITION_CREATE_ALWAYS;

  platform::FileHandle handle = hFileNull;
  if (access == 0 || !validShare)
    platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
  else
    handle = CurrentFileIo().OpenFile(path.Str(), access, share, disposition);
  if (handle == hFileNull) {
    if (error != nullptr) {
      error->m_lOsError = static_cast<long>(platform::GetLastError());
      error->m_cause = CFileException::OsErrorToException(error->m_lOsError);
      error->m_strFileName = path;
    }
    return 0;
  }
  m_hFile = handle;
  return 1;
}

ULONGLONG CFile::GetPosition() const {
  uint64_t pos = 0;
  if (!CurrentFileIo().SetFilePointer(m_hFile, 0, platform::MOVE_FROM_CURRENT, &pos)) ThrowLastError();
  return pos;
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
  uint64_t pos = 0;
  if (!CurrentFileIo().SetFilePointer(m_hFile, offset, from, &pos)) ThrowLastError();
  return pos;
}

ULONGLONG CFile::GetLength() const {
  uint64_t size = 0;
  if (!CurrentFileIo().GetFileSize(m_hFile, &size)) ThrowLastError();
  return size;
}

UINT CFile::Read(void* buffer, UINT count) {
  if (count == 0) return 0;
  if (buffer == nullptr) throw CInvalidArgException();
  DWORD read = 0;
  if (!CurrentFileIo().ReadFile(m_hFile, buffer, count, &read)) ThrowLastError();
  return read;
}

void CFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;
  if (buffer == nullptr) throw CInvalidArgException();
  DWORD written = 0;
  if (!CurrentFileIo().WriteFile(m_hFile, buffer, count, &written)) ThrowLastError();
  if (written != count) throw CFileException(CFileException::diskFull, -1, m_strFileName.GetString());
}

void CFile::Flush() {
  if (!IsOpen()) return;
  if (!CurrentFileIo().FlushFileBuffers(m_hFile)) ThrowLastError();
}

void CFile::Close() {
  if (!IsOpen()) return;
  bool ok = CurrentFileIo().CloseFile(m_hFile);
  DWORD error = platform::GetLastError();
  m_hFile = hFileNull;
  CString name = m_strFileName;
  m_strFileName.Empty();
  if (!ok) CFileException::ThrowOsError(static_cast<long>(error), name.GetString());
}

void CFile::Abort() {
  if (IsOpen()) CurrentFileIo().CloseFile(m_hFile);
  m_hFile = hFileNull;
  m_strFileName.Empty();
}

CString CFile::GetFileName() const {
  const std::wstring& path = m_strFileName.Str();
  size_t cut = path.find_last_of(std::wstring(L"/") + platform::PATH_SEPARATOR);
  return cut == std::wstring::npos ? m_strFileName : CString(path.substr(cut + 1));
}

// ---------------------------------------------------------------------------
// CStdioFile
// ---------------------------------------------------------------------------

CStdioFile::CStdioFile() : m_nBufferPos(0), m_nBufferLength(0), m_nBufferStart(0), m_bBufferValid(false) {}

CStdioFile::CStdioFile(const wchar_t* fileName, UINT openFlags) : CStdioFile() {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) throw error;
}

CStdioFile::~CStdioFile() { CStdioFile::Abort(); }

BOOL CStdioFile::Open(const wchar_t* fileName, UINT openFlags, CFileException* error) {
  m_bBufferValid = false;
  // The stream never translates, so the type bits mean nothing to the handle.
  if (!CFile::Open(fileName, openFlags & ~static_cast<UINT>(typeText | typeBinary), error)) return 0;
  if (!m_pStreamBuffer) m_pStreamBuffer.reset(new unsigned char[STREAM_BUFFER_SIZE]);
  return 1;
}

void CStdioFile::DropBuffer() {
  if (!m_bBufferValid) return;
  m_bBufferValid = false;
  // The handle sits at the end of what was buffered; put it back at the
  // logical position when unread bytes remain.
  if (m_nBufferPos != m_nBufferLength && IsOpen())
    CFile::Seek(static_cast<LONGLONG>(m_nBufferStart + m_nBufferPos), begin);
}

bool CStdioFile::FillBuffer(size_t wanted) {
  if (m_bBufferValid && m_nBufferLength - m_nBufferPos >= wanted) return true;
  if (!IsOpen() || !m_pStreamBuffer) return false;
  if (!m_bBufferValid) {
    uint64_t pos = 0;
    if (!CurrentFileIo().SetFilePointer(m_hFile, 0, platform::MOVE_FROM_CURRENT, &pos)) return false;
    m_nBufferStart = pos;
    m_nBufferPos = m_nBufferLength = 0;
    m_bBufferValid = true;
  }
  // Keep the unread tail and fill the rest of the buffer behind it.
  size_t tail = m_nBufferLength - m_nBufferPos;
  if (m_nBufferPos != 0) {
    std::memmove(m_pStreamBuffer.get(), m_pStreamBuffer.get() + m_nBufferPos, tail);
    m_nBufferStart += m_nBufferPos;
    m_nBufferPos = 0;
    m_nBufferLength = tail;
  }
  DWORD read = 0;
  bool ok = CurrentFileIo().ReadFile(m_hFile, m_pStreamBuffer.get() + m_nBufferLength,
                                     static_cast<DWORD>(STREAM_BUFFER_SIZE - m_nBufferLength), &read);
  m_nBufferLength += read;
  (void)ok;  // a read error ends the stream like the end of the file
  return m_nBufferLength - m_nBufferPos >= wanted;
}

ULONGLONG CStdioFile::GetPosition() const {
  if (m_bBufferValid) return m_nBufferStart + m_nBufferPos;
  return CFile::GetPosition();
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
  if (from == current && m_bBufferValid) {
    offset += static_cast<LONGLONG>(m_nBufferStart + m_nBufferPos);
    from = begin;
  }
  m_bBufferValid = false;
  return CFile::Seek(offset, from);
}

ULONGLONG CStdioFile::GetLength() const { return CFile::GetLength(); }

UINT CStdioFile::Read(void* buffer, UINT count) {
  if (count == 0) return 0;
  if (buffer == nullptr) throw CInvalidArgException();
  unsigned char* out = static_cast<unsigned char*>(buffer);
  UINT done = 0;
  if (m_bBufferValid) {
    size_t take = m_nBufferLength - m_nBufferPos;
    if (take > count) take = count;
    std::memcpy(out, m_pStreamBuffer.get() + m_nBufferPos, take);
    m_nBufferPos += take;
    done = static_cast<UINT>(take);
    if (done == count) return done;
    // The buffer is used up, so the handle sits at the logical position.
    m_bBufferValid = false;
  }
  return done + CFile::Read(out + done, count - done);
}

void CStdioFile::Write(const void* buffer, UINT count) {
  DropBuffer();
  CFile::Write(buffer, count);
}

void CStdioFile::Flush() {
  DropBuffer();
  CFile::Flush();
}

void CStdioFile::Close() {
  m_bBufferValid = false;
  m_pStreamBuffer.reset();
  CFile::Close();
}

void CStdioFile::Abort() {
  m_bBufferValid = false;
  m_pStreamBuffer.reset();
  CFile::Abort();
}

bool CStdioFile::StreamReadWide(wchar_t* out, size_t maxChars, size_t* count) {
  size_t n = 0;
  while (n < maxChars) {
    if (!FillBuffer(2)) break;  // the end, or a lone last byte
    const unsigned char* p = m_pStreamBuffer.get() + m_nBufferPos;
    uint32_t unit = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
    m_nBufferPos += 2;
    uint32_t c = unit;
    if (sizeof(wchar_t) >= 4 && unit >= 0xD800 && unit <= 0xDBFF && FillBuffer(2)) {
      const unsigned char* q = m_pStreamBuffer.get() + m_nBufferPos;
      uint32_t low = static_cast<uint32_t>(q[0]) | (static_cast<uint32_t>(q[1]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        m_nBufferPos += 2;
      }
    }
    out[n++] = static_cast<wchar_t>(c);
    if (unit == 0x0A) break;
  }
  if (count != nullptr) *count = n;
  return n > 0;
}

bool CStdioFile::StreamReadNarrow(char* out, size_t maxBytes, size_t* count) {
  size_t n = 0;
  while (n < maxBytes) {
    if (!FillBuffer(1)) break;
    // Copy up to the line feed straight out of the buffer.
    const unsigned char* start = m_pStreamBuffer.get() + m_nBufferPos;
    size_t avail = m_nBufferLength - m_nBufferPos;
    if (avail > maxBytes - n) avail = maxBytes - n;
    const void* lf = std::memchr(start, '\n', avail);
    size_t take = lf != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(lf) - start) + 1 : avail;
    std::memcpy(out + n, start, take);
    m_nBufferPos += take;
    n += take;
    if (lf != nullptr) break;
  }
  if (count != nullptr) *count = n;
  return n > 0;
}

wchar_t* CStdioFile::ReadString(wchar_t* buffer, UINT maxChars) {
  if (buffer == nullptr || maxChars == 0) throw CInvalidArgException();
  size_t n = 0;
  if (!StreamReadWide(buffer, maxChars - 1, &n)) {
    buffer[0] = L'\0';
    return nullptr;
  }
  buffer[n] = L'\0';
  return buffer;
}

BOOL CStdioFile::ReadString(CString& line) {
  std::wstring text;
  wchar_t chunk[128];
  size_t n = 0;
  bool any = false;
  while (StreamReadWide(chunk, 128, &n)) {
    any = true;
    text.append(chunk, n);
    if (chunk[n - 1] == L'\n') break;
  }
  if (!text.empty() && text.back() == L'\n') text.pop_back();
  line = text;
  return any ? 1 : 0;
}

void CStdioFile::WriteString(const wchar_t* text) {
  if (text == nullptr) throw CInvalidArgException();
  std::string bytes;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    uint32_t c = static_cast<uint32_t>(*p);
    auto put = [&bytes](uint32_t unit) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>((unit >> 8) & 0xFF);
    };
    if (c <= 0xFFFF) {
      put(c);
    } else if (c <= 0x10FFFF) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(0xFFFD);
    }
  }
  Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

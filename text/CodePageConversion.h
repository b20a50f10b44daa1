// Conversions between narrow text in a code page and wide text.
//
// Three families, one per seam:
// - ConvertBytesToWide: a downloaded page body (bytes in a named code page)
//   to wide text. Never raises; a failure writes one trace line and gives an
//   empty string (indistinguishable, for the caller, from an empty body).
// - CAnsiToWide / CWideToAnsi: short-lived converter objects for the calling
//   thread's ANSI code page, used around narrow diagnostic messages and the
//   narrow HTTP layer. The conversion happens in the constructor; the text
//   lives as long as the object. Up to 128 elements live in the object
//   itself, longer text in a heap block the object owns. A failed conversion
//   raises CConversionException (code 0x80070000 | Windows error); a failed
//   allocation raises std::bad_alloc. Invalid input does not fail: it is
//   replaced (U+FFFD, or the code page's default character).
// - The buffer functions (GetWideLength ... ToNarrowGrow): either direction in
//   any code page, for the text file reader. They never raise; every failure
//   (null source or destination, bad size, unknown code page, destination
//   too small, any exception inside) gives 0. CODEPAGE_SYSTEM_ANSI (-1) means
//   the system's ANSI code page, looked up again on every call.
//
// Threads: everything is reentrant and keeps no state between calls. The
// meaning of CP_THREAD_ACP depends on the calling thread's locale.
#ifndef VERSEWELL_TEXT_CODE_PAGE_CONVERSION_H
#define VERSEWELL_TEXT_CODE_PAGE_CONVERSION_H

#include <exception>
#include <string>

#include "platform/CodePage.h"
#include "platform/Types.h"
#include "text/SmartPtrArray.h"

// The code page numbers are the platform's (platform/CodePage.h).
using platform::CP_THREAD_ACP;
using platform::CP_UTF8;
// Only the buffer functions accept it; they replace it with GetACP().
constexpr int CODEPAGE_SYSTEM_ANSI = -1;

// The error exception of CAnsiToWide and CWideToAnsi.
class CConversionException : public std::exception {
 public:
  explicit CConversionException(DWORD code);
  // 0x80070000 | (Windows error & 0xFFFF), or the error itself when it is 0.
  DWORD GetCode() const { return m_nCode; }
  const char* what() const noexcept override { return m_szWhat; }

 private:
  DWORD m_nCode;
  char m_szWhat[64];
};

// Raises the exception for the calling thread's last error: std::bad_alloc
// for E_OUTOFMEMORY (0x8007000E), CConversionException otherwise.
[[noreturn]] void RaiseConversionError();

// Page body to wide text; `bytes` is read up to its first NUL byte.
std::wstring ConvertBytesToWide(const std::string& bytes, UINT codePage);
std::wstring ConvertBytesToWide(const char* bytes, UINT codePage);

class CAnsiToWide {
 public:
  static constexpr int INLINE_LENGTH = 128;

  // `text` NUL-terminated or null (then the result is null).
  explicit CAnsiToWide(const char* text, UINT codePage = CP_THREAD_ACP);
  ~CAnsiToWide();
  CAnsiToWide(const CAnsiToWide&) = delete;
  CAnsiToWide& operator=(const CAnsiToWide&) = delete;

  const wchar_t* Get() const { return m_psz; }
  operator const wchar_t*() const { return m_psz; }  // NOLINT: used in place of the text
  // True while the text sits in the object's own buffer.
  bool IsInline() const { return m_psz == m_szBuffer; }

 private:
  void Reserve(size_t count);
  void Convert(const char* text, UINT codePage);
  void FreeHeap();

  wchar_t* m_psz;
  wchar_t m_szBuffer[INLINE_LENGTH];
};

class CWideToAnsi {
 public:
  static constexpr int INLINE_LENGTH = 128;

  // `text` NUL-terminated or null (then the result is null).
  explicit CWideToAnsi(const wchar_t* text, UINT codePage = CP_THREAD_ACP);
  ~CWideToAnsi();
  CWideToAnsi(const CWideToAnsi&) = delete;
  CWideToAnsi& operator=(const CWideToAnsi&) = delete;

  const char* Get() const { return m_psz; }
  operator const char*() const { return m_psz; }  // NOLINT: used in place of the text
  bool IsInline() const { return m_psz == m_szBuffer; }
  // Bytes reserved for the current text (INLINE_LENGTH while inline).
  size_t ReservedSize() const { return m_nReserved; }

 private:
  void Reserve(size_t count);
  void Convert(const wchar_t* text, UINT codePage);
  void FreeHeap();

  char* m_psz;
  char m_szBuffer[INLINE_LENGTH];
  size_t m_nReserved;
};

// Wide characters needed for `source` (terminator included); 0 on failure.
int GetWideLength(const char* source, int codePage);
// Zero-fills `destination` (count wide characters) and converts into it.
// Returns the characters written without the terminator; 0 on failure.
int ToWideBuffer(const char* source, wchar_t* destination, int count, int codePage);
// As ToWideBuffer into the holder's array of `capacity` characters; an array
// too small is replaced by an owned one of the needed size first.
int ToWideGrow(const char* source, CTemplateSmartPtrArray<wchar_t>& holder, int capacity, int codePage);

// Bytes needed for `source` (terminator included); 0 on failure.
int GetNarrowLength(const wchar_t* source, int codePage);
// Zero-fills `destination` (size bytes) and converts into it; characters the
// code page lacks become `defaultChar` (not for UTF-8). Returns the bytes
// written without the terminator; 0 on failure.
int ToNarrowBuffer(const wchar_t* source, char* destination, int size, int codePage, char defaultChar);
int ToNarrowGrow(const wchar_t* source, CTemplateSmartPtrArray<char>& holder, int capacity, int codePage,
                 char defaultChar);

#endif  // VERSEWELL_TEXT_CODE_PAGE_CONVERSION_H

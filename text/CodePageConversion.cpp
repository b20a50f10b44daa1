// ConvertBytesToWide, the ANSI converter objects and their error exception.
#include "text/CodePageConversion.h"

#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "platform/CodePage.h"
#include "platform/ErrorText.h"
#include "platform/Utf8Codec.h"
#include "text/NarrowMessage.h"
#include "text/Utf8StreamDecoder.h"

namespace {

constexpr DWORD E_OUTOFMEMORY_CODE = 0x8007000E;

}  // namespace

CConversionException::CConversionException(DWORD code) : m_nCode(code) {
  std::snprintf(m_szWhat, sizeof(m_szWhat), "code page conversion failed (0x%08X)", static_cast<unsigned>(code));
}

void RaiseConversionError() {
  DWORD error = platform::GetLastError();
  // As HRESULT_FROM_WIN32: the error read as a signed 32-bit value; one that
  // is 0 or negative (already an HRESULT) is kept as it is.
  DWORD code = static_cast<int32_t>(error) > 0 ? (0x80070000u | (error & 0xFFFFu)) : error;
  if (code == E_OUTOFMEMORY_CODE) throw std::bad_alloc();
  throw CConversionException(code);
}

// ---------------------------------------------------------------------------
// ConvertBytesToWide
// ---------------------------------------------------------------------------

namespace {

// UTF-8 straight into the result: one pass over the bytes into a string
// reserved once for the largest possible length (a byte never gives more
// than one wide unit, a four-byte sequence at most two). The same codec and
// the same replacement of ill-formed sequences as MultiByteToWideChar for
// code page 65001, so the same text.
std::wstring Utf8BytesToWide(const unsigned char* p, size_t length) {
  std::wstring result;
  result.reserve(length);
  AppendUtf8Text(p, length, result);
  return result;
}

}  // namespace

std::wstring ConvertBytesToWide(const char* bytes, UINT codePage) {
  std::wstring result;
  if (bytes == nullptr) bytes = "";
  if (codePage == CP_UTF8) {
    const size_t length = std::strlen(bytes);
    if (length < static_cast<size_t>(INT_MAX) / 2) {
      try {
        return Utf8BytesToWide(reinterpret_cast<const unsigned char*>(bytes), length);
      } catch (const std::bad_alloc&) {
        LogNarrowMessage(TEXT_REPORT_ERROR, "Malloc failed !!!");
        return std::wstring();
      }
    }
  }
  int needed = platform::MultiByteToWideChar(codePage, 0, bytes, -1, nullptr, 0);
  if (needed == 0) {
    try {
      LogNarrowMessage(TEXT_REPORT_WARNING, std::string("MultiByteToWideChar (get needed length) failed for string: \"") +
                                          bytes + "\", codePage=" + std::to_string(codePage));
    } catch (...) {
    }
    return result;
  }
  try {
    // One element more than needed, as the conversion's scratch space.
    result.resize(static_cast<size_t>(needed) + 1);
  } catch (...) {
    LogNarrowMessage(TEXT_REPORT_ERROR, "Malloc failed !!!");
    return std::wstring();
  }
  int written = platform::MultiByteToWideChar(codePage, 0, bytes, -1, &result[0], needed);
  if (written == 0) {
    try {
      LogNarrowMessage(TEXT_REPORT_ERROR, std::string("MultiByteToWideChar failed for string: \"") + bytes +
                                        "\", codePage=" + std::to_string(codePage));
    } catch (...) {
    }
    return std::wstring();
  }
  // The source ends at its first NUL, so the text is everything before the
  // converted terminator.
  result.resize(static_cast<size_t>(written) - 1);
  return result;
}

std::wstring ConvertBytesToWide(const std::string& bytes, UINT codePage) {
  return ConvertBytesToWide(bytes.c_str(), codePage);
}

// ---------------------------------------------------------------------------
// CAnsiToWide
// ---------------------------------------------------------------------------

CAnsiToWide::CAnsiToWide(const char* text, UINT codePage) : m_psz(nullptr), m_szBuffer{} {
  if (text == nullptr) return;
  try {
    Convert(text, codePage);
  } catch (...) {
    FreeHeap();
    throw;
  }
}

CAnsiToWide::~CAnsiToWide() { FreeHeap(); }

void CAnsiToWide::FreeHeap() {
  if (m_psz != nullptr && m_psz != m_szBuffer) std::free(m_psz);
  m_psz = nullptr;
}

void CAnsiToWide::Reserve(size_t count) {
  if (count <= static_cast<size_t>(INLINE_LENGTH)) {
    FreeHeap();
    m_psz = m_szBuffer;
    return;
  }
  if (count > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  if (m_psz == nullptr || m_psz == m_szBuffer) {
    void* block = std::calloc(count, sizeof(wchar_t));
    if (block == nullptr) throw std::bad_alloc();
    m_psz = static_cast<wchar_t*>(block);
  } else {
    void* block = std::realloc(m_psz, count * sizeof(wchar_t));
    if (block == nullptr) throw std::bad_alloc();
    m_psz = static_cast<wchar_t*>(block);
  }
}

void CAnsiToWide::Convert(const char* text, UINT codePage) {
  size_t length = std::strlen(text) + 1;
  if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  const int n = static_cast<int>(length);
  Reserve(length);
  int result = platform::MultiByteToWideChar(codePage, 0, text, n, m_psz, n);
  if (result == 0 && platform::GetLastError() == platform::ERROR_INSUFFICIENT_BUFFER) {
    int needed = platform::MultiByteToWideChar(codePage, 0, text, n, nullptr, 0);
    if (needed > 0) {
      Reserve(static_cast<size_t>(needed));
      result = platform::MultiByteToWideChar(codePage, 0, text, n, m_psz, needed);
    }
  }
  if (result == 0) RaiseConversionError();
}

// ---------------------------------------------------------------------------
// CWideToAnsi
// ---------------------------------------------------------------------------

CWideToAnsi::CWideToAnsi(const wchar_t* text, UINT codePage) : m_psz(nullptr), m_szBuffer{}, m_nReserved(0) {
  if (text == nullptr) return;
  try {
    Convert(text, codePage);
  } catch (...) {
    FreeHeap();
    throw;
  }
}

CWideToAnsi::~CWideToAnsi() { FreeHeap(); }

void CWideToAnsi::FreeHeap() {
  if (m_psz != nullptr && m_psz != m_szBuffer) std::free(m_psz);
  m_psz = nullptr;
  m_nReserved = 0;
}

void CWideToAnsi::Reserve(size_t count) {
  if (count <= static_cast<size_t>(INLINE_LENGTH)) {
    FreeHeap();
    m_psz = m_szBuffer;
    m_nReserved = INLINE_LENGTH;
    return;
  }
  if (count > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  if (m_psz == nullptr || m_psz == m_szBuffer) {
    void* block = std::calloc(count, 1);
    if (block == nullptr) throw std::bad_alloc();
    m_psz = static_cast<char*>(block);
  } else {
    void* block = std::realloc(m_psz, count);
    if (block == nullptr) throw std::bad_alloc();
    m_psz = static_cast<char*>(block);
  }
  m_nReserved = count;
}

void CWideToAnsi::Convert(const wchar_t* text, UINT codePage) {
  size_t length = std::wcslen(text) + 1;
  if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  const int n = static_cast<int>(length);
  int result = 0;
  if (length <= static_cast<size_t>(INT_MAX) / 4) {
    // Four bytes per character covers every code page in one pass.
    Reserve(length * 4);
    result = platform::WideCharToMultiByte(codePage, 0, text, n, m_psz, static_cast<int>(length * 4), nullptr,
                                           nullptr);
  } else {
    platform::SetLastError(platform::ERROR_INSUFFICIENT_BUFFER);
  }
  if (result == 0 && platform::GetLastError() == platform::ERROR_INSUFFICIENT_BUFFER) {
    int needed = platform::WideCharToMultiByte(codePage, 0, text, n, nullptr, 0, nullptr, nullptr);
    if (needed > 0) {
      Reserve(static_cast<size_t>(needed));
      result = platform::WideCharToMultiByte(codePage, 0, text, n, m_psz, needed, nullptr, nullptr);
    }
  }
  if (result == 0) RaiseConversionError();
}

// Windows backend of platform/PrivateProfile.h: the Kernel32 private-profile
// calls, with the section and key names escaped by the scheme every backend
// shares (platform/ProfileEscape.h).
//
// Win32 behaviour that shaped this file:
//  - Kernel32 writes a new file in the ANSI code page unless the file already
//    starts with a UTF-16LE byte-order mark; then it keeps writing UTF-16LE.
//    A missing file is therefore created holding only the mark, so that
//    every name and value survives whatever the code page.
//  - "[", "]", CR and LF in a name would split or inject sections, and
//    Kernel32 trims the blanks around section and key names: the shared
//    escaping covers all of them, so names round-trip exactly.
//  - GetPrivateProfileSectionNamesW returns the stored (escaped) names; they
//    are unescaped here and the list is cut to the caller's buffer by the
//    contract's rule, not Kernel32's.
//  - Kernel32 trims values and strips quotes around them; values are
//    escaped too, and read back through a large buffer so that the cut to
//    the caller's buffer happens after unescaping.
// Threads: Kernel32 serialises access to
// one file; several processes may use one file.
#include <cstring>
#include <string>
#include <vector>

#include "platform/NoDestructor.h"
#include "platform/PrivateProfile.h"
#include "platform/ProfileEscape.h"
#include "platform/win32/WinApi.h"

namespace platform {
namespace {

std::wstring Escape(ProfilePart part, const wchar_t* text) {
  return text == nullptr ? std::wstring() : ProfileEscape(part, text, std::wcslen(text));
}

// Creates `file` holding only a UTF-16LE byte-order mark when it does not
// exist yet. Fails quietly: the write that follows reports any error.
void EnsureUnicodeFile(const wchar_t* file) {
  HANDLE h = ::CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  static const unsigned char kBom[2] = {0xFF, 0xFE};
  DWORD written = 0;
  ::WriteFile(h, kBom, sizeof kBom, &written, nullptr);
  ::CloseHandle(h);
}

bool IsAscii(const std::wstring& text) {
  for (wchar_t c : text)
    if (static_cast<unsigned>(c) >= 0x80) return false;
  return true;
}

// The stored (escaped) section name equal to `escaped` under the system's
// case fold, or empty.
std::wstring StoredSectionName(const std::wstring& escaped, const wchar_t* file) {
  std::vector<wchar_t> raw(4096);
  DWORD n = 0;
  for (;;) {
    n = ::GetPrivateProfileSectionNamesW(raw.data(), static_cast<DWORD>(raw.size()), file);
    if (n + 2 < raw.size() || raw.size() >= (1u << 26)) break;
    raw.resize(raw.size() * 4);
  }
  for (const wchar_t* p = raw.data(); p < raw.data() + n && *p != L'\0';) {
    const int length = static_cast<int>(std::wcslen(p));
    if (::CompareStringOrdinal(p, length, escaped.data(), static_cast<int>(escaped.size()), TRUE) == CSTR_EQUAL)
      return std::wstring(p, static_cast<size_t>(length));
    p += length + 1;
  }
  return std::wstring();
}

class CKernel32Profile : public IPrivateProfile {
 public:
  DWORD GetPrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                wchar_t* buffer, DWORD size, const wchar_t* file) override {
    if (buffer == nullptr || size == 0) return 0;
    if (section == nullptr) return GetPrivateProfileSectionNames(buffer, size, file);
    const std::wstring s = Escape(ProfilePart::SECTION, section);
    if (key == nullptr)  // the key list, as Kernel32 gives it (names escaped)
      return ::GetPrivateProfileStringW(s.c_str(), nullptr, defaultValue, buffer, size, file);
    const std::wstring k = Escape(ProfilePart::KEY, key);
    // A stored value is escaped, so it never is a lone backslash: that
    // default tells a missing key from an empty value.
    std::vector<wchar_t> raw(1024);
    DWORD n = 0;
    for (;;) {
      n = ::GetPrivateProfileStringW(s.c_str(), k.c_str(), L"\\", raw.data(), static_cast<DWORD>(raw.size()), file);
      if (n + 1 < raw.size() || raw.size() >= (1u << 26)) break;
      raw.resize(raw.size() * 4);
    }
    if (n == 1 && raw[0] == L'\\' && !IsAscii(s)) {
      // Wine compares section names with an ASCII-only case fold; Windows
      // folds every letter. Look for the stored spelling with the system's
      // full fold and ask again with it.
      const std::wstring stored = StoredSectionName(s, file);
      if (!stored.empty())
        n = ::GetPrivateProfileStringW(stored.c_str(), k.c_str(), L"\\", raw.data(), static_cast<DWORD>(raw.size()),
                                       file);
    }
    std::wstring value;
    if (n == 1 && raw[0] == L'\\')
      value = defaultValue != nullptr ? defaultValue : L"";
    else
      ProfileUnescape(raw.data(), raw.data() + n, value);
    const size_t copied = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), copied * sizeof(wchar_t));
    buffer[copied] = L'\0';
    return static_cast<DWORD>(copied);
  }

  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                 const wchar_t* file) override {
    if (section == nullptr || key == nullptr || file == nullptr) {
      // Deleting keys or sections is not part of the contract.
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    EnsureUnicodeFile(file);
    const std::wstring s = Escape(ProfilePart::SECTION, section);
    const std::wstring k = Escape(ProfilePart::KEY, key);
    const std::wstring v = Escape(ProfilePart::VALUE, value);
    return ::WritePrivateProfileStringW(s.c_str(), k.c_str(), value != nullptr ? v.c_str() : nullptr, file) != FALSE;
  }

  DWORD GetPrivateProfileSectionNames(wchar_t* buffer, DWORD size, const wchar_t* file) override {
    if (buffer == nullptr || size == 0) return 0;
    // Kernel32 gives size - 2 when the list was cut: grow until it fits.
    std::vector<wchar_t> raw(4096);
    DWORD n = 0;
    for (;;) {
      n = ::GetPrivateProfileSectionNamesW(raw.data(), static_cast<DWORD>(raw.size()), file);
      if (n + 2 < raw.size() || raw.size() >= (1u << 26)) break;
      raw.resize(raw.size() * 4);
    }
    std::wstring list;
    std::wstring name;
    for (const wchar_t* p = raw.data(); p < raw.data() + n && *p != L'\0';) {
      const size_t length = std::wcslen(p);
      ProfileUnescape(p, p + length, name);
      list.append(name);
      list.push_back(L'\0');
      p += length + 1;
    }
    if (size < 2) {
      buffer[0] = L'\0';
      return 0;
    }
    if (list.size() + 1 <= size) {
      std::memcpy(buffer, list.data(), list.size() * sizeof(wchar_t));
      buffer[list.size()] = L'\0';
      return static_cast<DWORD>(list.size());
    }
    // Cut: as many characters as fit, then two 0s.
    std::memcpy(buffer, list.data(), (size - 2) * sizeof(wchar_t));
    buffer[size - 2] = L'\0';
    buffer[size - 1] = L'\0';
    return size - 2;
  }
};

CKernel32Profile& Instance() {
  static NoDestructor<CKernel32Profile> s_instance;
  return *s_instance.get();
}

}  // namespace

IPrivateProfile& SystemPrivateProfile() { return Instance(); }

}  // namespace platform

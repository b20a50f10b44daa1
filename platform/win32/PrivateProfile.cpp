// Windows backend of platform/PrivateProfile.h: the Kernel32 private-profile
// calls, with the section and key names escaped by the scheme every backend
// shares (platform/ProfileEscape.h).
//
// Win32 behaviour that shaped this file:
//  - Kernel32 writes a new file in the ANSI code page unless the file already
//    starts with a UTF-16LE byte-order mark; then it keeps writing UTF-16LE.
//    A missing file is therefore created holding only the mark, so that
//    every name and value survives whatever the code page.
//  - Kernel32 rewrites the whole file in place (truncate, then write), and
//    nothing orders the calls of two processes: a process ended during a
//    write left a cut-off file, and two writers lost each other's entries
//    (or a reader saw an empty file, which the next write turned into an
//    ANSI one). So every call on a file holds a lock shared by all
//    processes (a named mutex per file path), and a write goes to a copy
//    of the file that then replaces it in one rename. A process ended at any
//    moment leaves the previous or the new file, never a cut-off one; the
//    lock is given up by the system then (WAIT_ABANDONED), and the copy it
//    left is overwritten by the next write.
//  - "[", "]", CR and LF in a name would split or inject sections, and
//    Kernel32 trims the blanks around section and key names: the shared
//    escaping covers all of them, so names round-trip exactly.
//  - Wine compares section and key names with an ASCII-only case fold;
//    Windows folds every letter. A name with other letters is looked up in
//    the stored names with the system's full fold first, for reads and
//    writes, so that another spelling never makes a second section.
//  - A null value makes Kernel32 delete the key. Deleting is not part of the
//    contract, so a null value fails (ERROR_INVALID_PARAMETER) and the
//    stored value stays.
//  - GetPrivateProfileSectionNamesW returns the stored (escaped) names; they
//    are unescaped here and the list is cut to the caller's buffer by the
//    contract's rule, not Kernel32's (an empty list too ends in two 0s).
//  - Kernel32 trims values and strips quotes around them; values are
//    escaped too, and read back through a large buffer so that the cut to
//    the caller's buffer happens after unescaping.
// Threads and processes: any thread of any process may call; the file lock
// orders them.
#include <cstdint>
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

// Holds the lock of one file for the life of the object: a mutex named after
// the file's full path, so that every process using the file shares it.
// Without a mutex (out of handles) the call goes on unlocked.
class CFileLock {
 public:
  explicit CFileLock(const wchar_t* file) {
    std::vector<wchar_t> full(32768);
    DWORD n = ::GetFullPathNameW(file, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) {  // no full form: the name as given
      n = static_cast<DWORD>(std::wcslen(file));
      full.assign(file, file + n + 1);
    }
    // Upper-cased in place by Kernel32's invariant mapping (the one case where
    // it allows source and destination to be the same buffer); CharUpperBuffW
    // would make the DLL import USER32 for this one call.
    ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.data(), static_cast<int>(n), full.data(),
                    static_cast<int>(n), nullptr, nullptr, 0);
    uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a over the upper-cased path
    for (DWORD k = 0; k < n; ++k) hash = (hash ^ static_cast<uint16_t>(full[k])) * 0x100000001B3ull;
    wchar_t name[64];
    swprintf(name, 64, L"Local\\VersewellProfile-%016llX", static_cast<unsigned long long>(hash));
    const DWORD saved = ::GetLastError();
    m_hMutex = ::CreateMutexW(nullptr, FALSE, name);
    // WAIT_ABANDONED: a process ended while holding it; the file is whole
    // (see the file comment), so the lock is ours as usual.
    if (m_hMutex != nullptr) ::WaitForSingleObject(m_hMutex, INFINITE);
    ::SetLastError(saved);
  }
  ~CFileLock() {
    if (m_hMutex == nullptr) return;
    const DWORD saved = ::GetLastError();
    ::ReleaseMutex(m_hMutex);
    ::CloseHandle(m_hMutex);
    ::SetLastError(saved);
  }
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;

 private:
  HANDLE m_hMutex = nullptr;
};

// Creates (or empties) `file` to hold only a UTF-16LE byte-order mark.
bool CreateUnicodeFile(const wchar_t* file) {
  HANDLE h = ::CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  static const unsigned char kBom[2] = {0xFF, 0xFE};
  DWORD written = 0;
  const bool ok = ::WriteFile(h, kBom, sizeof kBom, &written, nullptr) && written == sizeof kBom;
  const DWORD saved = ::GetLastError();
  ::CloseHandle(h);
  ::SetLastError(saved);
  return ok;
}

bool IsAscii(const std::wstring& text) {
  for (wchar_t c : text)
    if (static_cast<unsigned>(c) >= 0x80) return false;
  return true;
}

// A list of 0-terminated names from a Kernel32 call that gives size - 2
// when the list was cut: grown until it fits.
template <typename Call>
std::vector<wchar_t> WholeList(Call call) {
  std::vector<wchar_t> raw(4096);
  DWORD n = 0;
  for (;;) {
    n = call(raw.data(), static_cast<DWORD>(raw.size()));
    if (n + 2 < raw.size() || raw.size() >= (1u << 26)) break;
    raw.resize(raw.size() * 4);
  }
  raw.resize(n);
  raw.push_back(L'\0');
  return raw;
}

// `text` in upper case by the invariant locale's simple mapping, letter by
// letter (so the length stays). Wine's CompareStringOrdinal folds fewer
// letters than Windows (not the Greek accented vowels), and Wine's upper
// case table lacks the final sigma, which Unicode and Windows map to capital
// sigma like the other sigma; it is mapped here, so that both systems fold
// every cased letter.
std::wstring UpperCase(const std::wstring& text) {
  std::wstring upper(text);
  if (!upper.empty() &&
      ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()), &upper[0],
                      static_cast<int>(upper.size()), nullptr, nullptr, 0) != static_cast<int>(text.size()))
    upper = text;
  for (wchar_t& c : upper)
    if (c == 0x03C2) c = 0x03A3;
  return upper;
}

// The name in `list` equal to `escaped` under the full case fold, or empty.
std::wstring FindFolded(const std::vector<wchar_t>& list, const std::wstring& escaped) {
  const std::wstring wanted = UpperCase(escaped);
  for (const wchar_t* p = list.data(); p < list.data() + list.size() && *p != L'\0';) {
    const std::wstring name(p);
    if (name.size() == wanted.size() && UpperCase(name) == wanted) return name;
    p += name.size() + 1;
  }
  return std::wstring();
}

// The stored spelling of an escaped section name (itself when there is
// none, or when Kernel32's own fold is enough).
std::wstring StoredSection(const std::wstring& escaped, const wchar_t* file) {
  if (IsAscii(escaped)) return escaped;
  const std::wstring stored = FindFolded(
      WholeList([&](wchar_t* b, DWORD n) { return ::GetPrivateProfileSectionNamesW(b, n, file); }), escaped);
  return stored.empty() ? escaped : stored;
}

// The same for a key of the (stored) section.
std::wstring StoredKey(const std::wstring& section, const std::wstring& escaped, const wchar_t* file) {
  if (IsAscii(escaped)) return escaped;
  const std::wstring stored = FindFolded(WholeList([&](wchar_t* b, DWORD n) {
                                           return ::GetPrivateProfileStringW(section.c_str(), nullptr, L"", b, n, file);
                                         }),
                                         escaped);
  return stored.empty() ? escaped : stored;
}

// Reads the stored (escaped) value into `raw`; false when there is none. A
// stored value is escaped, so it never is a lone backslash: that default
// tells a missing key from an empty value.
bool ReadRaw(const std::wstring& section, const std::wstring& key, const wchar_t* file, std::vector<wchar_t>& raw) {
  raw.assign(1024, L'\0');
  DWORD n = 0;
  for (;;) {
    n = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), L"\\", raw.data(), static_cast<DWORD>(raw.size()), file);
    if (n + 1 < raw.size() || raw.size() >= (1u << 26)) break;
    raw.resize(raw.size() * 4);
  }
  raw.resize(n);
  return !(n == 1 && raw[0] == L'\\');
}

// One write of a batch, escaped.
struct CEscapedWrite {
  std::wstring section, key, value;
};

// Applies `writes` to `file` through a copy that replaces it in one rename;
// writes of values already stored are skipped, and with nothing left the
// file is not touched. Called with the file's lock held. False (and the
// last error) when the file could not be replaced.
bool ReplaceWithWrites(const std::vector<CEscapedWrite>& writes, const wchar_t* file) {
  std::vector<CEscapedWrite> pending;
  std::vector<wchar_t> raw;
  for (const CEscapedWrite& w : writes) {
    CEscapedWrite stored;
    stored.section = StoredSection(w.section, file);
    stored.key = StoredKey(stored.section, w.key, file);
    stored.value = w.value;
    pending.push_back(stored);
  }
  bool changed = false;
  for (const CEscapedWrite& w : pending)
    if (!ReadRaw(w.section, w.key, file, raw) || std::wstring(raw.begin(), raw.end()) != w.value) changed = true;
  if (!changed) return true;

  // One copy per file: the lock orders its users, and one left by a process
  // that ended mid-write is overwritten here.
  const std::wstring copy = std::wstring(file) + L".writing";
  if (!::CopyFileW(file, copy.c_str(), FALSE)) {
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;  // e.g. no such folder
    if (!CreateUnicodeFile(copy.c_str())) return false;
  }
  bool ok = true;
  for (const CEscapedWrite& w : pending)
    ok = ok && ::WritePrivateProfileStringW(w.section.c_str(), w.key.c_str(), w.value.c_str(), copy.c_str()) != FALSE;
  // Kernel32 may keep the text in a cache: flush it to the copy first.
  if (ok) ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, copy.c_str());
  if (ok) ok = ::MoveFileExW(copy.c_str(), file, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  if (!ok) {
    const DWORD saved = ::GetLastError();
    ::DeleteFileW(copy.c_str());
    ::SetLastError(saved);
  }
  return ok;
}

class CKernel32Profile : public IPrivateProfile {
 public:
  DWORD GetPrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                wchar_t* buffer, DWORD size, const wchar_t* file) override {
    if (buffer == nullptr || size == 0) return 0;
    if (section == nullptr) return GetPrivateProfileSectionNames(buffer, size, file);
    const std::wstring s = Escape(ProfilePart::SECTION, section);
    if (key == nullptr) {  // the key list, as Kernel32 gives it (names escaped)
      CFileLock lock(file);
      return ::GetPrivateProfileStringW(StoredSection(s, file).c_str(), nullptr, defaultValue, buffer, size, file);
    }
    CFileLock lock(file);
    const std::wstring stored = StoredSection(s, file);
    std::vector<wchar_t> raw;
    const bool found = ReadRaw(stored, StoredKey(stored, Escape(ProfilePart::KEY, key), file), file, raw);
    std::wstring value;
    if (!found)
      value = defaultValue != nullptr ? defaultValue : L"";
    else
      ProfileUnescape(raw.data(), raw.data() + raw.size(), value);
    const size_t copied = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), copied * sizeof(wchar_t));
    buffer[copied] = L'\0';
    return static_cast<DWORD>(copied);
  }

  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                 const wchar_t* file) override {
    if (section == nullptr || key == nullptr || value == nullptr || file == nullptr) {
      // Deleting keys or sections is not part of the contract.
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    CFileLock lock(file);
    return ReplaceWithWrites({{Escape(ProfilePart::SECTION, section), Escape(ProfilePart::KEY, key),
                               Escape(ProfilePart::VALUE, value)}},
                             file);
  }

  // One lock and one replacement of the file for the whole batch; a
  // malformed entry fails alone. When the replacement fails no entry is
  // written.
  bool WritePrivateProfileStrings(CProfileWrite* entries, size_t count, const wchar_t* file) override {
    if (file == nullptr) {
      for (size_t i = 0; i < count; ++i) entries[i].written = false;
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    std::vector<CEscapedWrite> writes;
    bool all = true;
    for (size_t i = 0; i < count; ++i) {
      const CProfileWrite& e = entries[i];
      entries[i].written = e.section != nullptr && e.key != nullptr && e.value != nullptr;
      if (entries[i].written)
        writes.push_back({Escape(ProfilePart::SECTION, e.section), Escape(ProfilePart::KEY, e.key),
                          Escape(ProfilePart::VALUE, e.value)});
      all = all && entries[i].written;
    }
    CFileLock lock(file);
    if (!ReplaceWithWrites(writes, file)) {
      for (size_t i = 0; i < count; ++i) entries[i].written = false;
      return false;
    }
    if (!all) ::SetLastError(ERROR_INVALID_PARAMETER);
    return all;
  }

  DWORD GetPrivateProfileSectionNames(wchar_t* buffer, DWORD size, const wchar_t* file) override {
    if (buffer == nullptr || size == 0) return 0;
    CFileLock lock(file);
    const std::vector<wchar_t> raw =
        WholeList([&](wchar_t* b, DWORD n) { return ::GetPrivateProfileSectionNamesW(b, n, file); });
    std::wstring list;
    std::wstring name;
    for (const wchar_t* p = raw.data(); p < raw.data() + raw.size() && *p != L'\0';) {
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
    if (list.empty()) {  // no names: the list is its two 0s
      buffer[0] = buffer[1] = L'\0';
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

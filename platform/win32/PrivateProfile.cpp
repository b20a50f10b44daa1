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
//    processes (a named mutex per file), and a write goes to a copy of the
//    file, flushed to the disk, that then replaces it in one rename. A
//    process ended at any moment leaves the previous or the new file, never
//    a cut-off one; the lock is given up by the system then (WAIT_ABANDONED),
//    and the copy it left is overwritten by the next write. A lock that
//    cannot be made or taken fails the call.
//  - The lock is named after the identity of the file's folder (volume and
//    file index, which every spelling of the folder shares: 8.3 names,
//    "\\?\" prefixes, junctions) and the upper-cased long name of the file;
//    the path text only when the folder does not exist.
//  - A file without the UTF-16LE mark (made by a user or another tool, or
//    empty) would make Kernel32 write ANSI: names outside the code page
//    would turn into '?', the write would report success and the entry
//    never read back. The copy a write makes is therefore always UTF-16LE:
//    the old bytes are decoded from the ANSI code page, as Kernel32 reads
//    them, so every entry stays.
//  - A reader that opened the file without FILE_SHARE_DELETE (a virus
//    scanner, an indexer) makes the rename fail for as long as it holds
//    the file: the rename is retried for up to SHARING_RETRY_MS, then the
//    write fails with that error (the caller's trace line says so).
//  - A bare file name (no folder, no drive) is resolved once against the
//    Windows folder, as Kernel32 resolves it, and that full path is used by
//    every step (Kernel32's calls, the copy, the rename, the lock); any other
//    name by GetFullPathNameW.
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
#include "platform/win32/ProfileKernelCalls.h"
#include "platform/win32/WinApi.h"

namespace platform {
namespace {

std::wstring Escape(ProfilePart part, const wchar_t* text) {
  return text == nullptr ? std::wstring() : ProfileEscape(part, text, std::wcslen(text));
}

// How long a write retries a rename that another opener of the file
// blocks (sharing violation), in steps of SHARING_RETRY_STEP_MS.
constexpr DWORD SHARING_RETRY_MS = 2000;
constexpr DWORD SHARING_RETRY_STEP_MS = 50;

bool Refuse(DWORD error) {
  ::SetLastError(error);
  return false;
}

// Restores the caller's last error when a step in between changed it.
class CKeepLastError {
 public:
  CKeepLastError() : m_nError(::GetLastError()) {}
  ~CKeepLastError() { ::SetLastError(m_nError); }

 private:
  DWORD m_nError;
};

// `text` upper-cased in place by Kernel32's invariant mapping (the one case
// where it allows source and destination to be the same buffer);
// CharUpperBuffW would make the DLL import USER32 for this one call.
void UpperCaseInPlace(std::wstring& text) {
  if (text.empty()) return;
  ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &text[0], static_cast<int>(text.size()), &text[0],
                  static_cast<int>(text.size()), nullptr, nullptr, 0);
}

// The full path every step of a call uses. A bare name goes to the Windows
// folder, as Kernel32 resolves it; anything else to its full path (the
// name as given when there is none).
std::wstring ResolveFile(const wchar_t* file) {
  std::wstring name(file);
  if (name.find_first_of(L"\\/:") == std::wstring::npos) {
    std::vector<wchar_t> folder(MAX_PATH);
    UINT n = ::GetWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    if (n >= folder.size()) {
      folder.resize(n + 1);
      n = ::GetWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    }
    if (n == 0 || n >= folder.size()) return name;
    std::wstring path(folder.data(), n);
    if (path.back() != L'\\') path += L'\\';
    return path + name;
  }
  std::vector<wchar_t> full(32768);
  const DWORD n = ::GetFullPathNameW(file, static_cast<DWORD>(full.size()), full.data(), nullptr);
  return n == 0 || n >= full.size() ? name : std::wstring(full.data(), n);
}

// The name of the lock of the file at full path `path`: the folder's
// identity and the file's upper-cased long name, or the upper-cased path
// when the folder cannot be opened.
std::wstring LockKey(const std::wstring& path) {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  const std::wstring longPath = n > 0 && n < buffer.size() ? std::wstring(buffer.data(), n) : path;
  const size_t slash = longPath.find_last_of(L"\\/");
  std::wstring key;
  if (slash != std::wstring::npos) {
    std::wstring folder = longPath.substr(0, slash);
    if (folder.empty() || folder.back() == L':') folder += L'\\';
    HANDLE h = ::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (h != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(h, &info)) {
      wchar_t identity[40];
      swprintf(identity, 40, L"%08lX-%08lX%08lX\\", static_cast<unsigned long>(info.dwVolumeSerialNumber),
               static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
      key = identity + longPath.substr(slash + 1);
    }
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  if (key.empty()) key = longPath;
  UpperCaseInPlace(key);
  return key;
}

// Holds the lock of one file for the life of the object: a mutex named
// after LockKey, so that every process using the file shares it. Held()
// is false when the mutex could not be made or taken; the call then fails
// with that error.
class CFileLock {
 public:
  explicit CFileLock(const std::wstring& path) {
    const std::wstring key = LockKey(path);
    uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a over the key
    for (wchar_t c : key) hash = (hash ^ static_cast<uint16_t>(c)) * 0x100000001B3ull;
    wchar_t name[64];
    swprintf(name, 64, L"Local\\VersewellProfile-%016llX", static_cast<unsigned long long>(hash));
    m_hMutex = static_cast<HANDLE>(CurrentProfileKernelCalls().CreateNamedMutex(name));
    if (m_hMutex == nullptr) return;
    // WAIT_ABANDONED: a process ended while holding it; the file is whole
    // (see the file comment), so the lock is ours as usual.
    const DWORD wait = ::WaitForSingleObject(m_hMutex, INFINITE);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      m_bHeld = true;
      return;
    }
    const DWORD error = wait == WAIT_FAILED ? ::GetLastError() : ERROR_LOCK_VIOLATION;
    ::CloseHandle(m_hMutex);
    m_hMutex = nullptr;
    ::SetLastError(error);
  }
  ~CFileLock() {
    if (m_hMutex == nullptr) return;
    CKeepLastError keep;
    ::ReleaseMutex(m_hMutex);
    ::CloseHandle(m_hMutex);
  }
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;

  bool Held() const { return m_bHeld; }

 private:
  HANDLE m_hMutex = nullptr;
  bool m_bHeld = false;
};

// Whether `error` is another opener holding the file without the sharing
// a rename needs (Windows says access denied for an open file, Wine may
// say sharing violation).
bool IsSharingError(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

// Runs `step` until it succeeds, fails otherwise than by sharing, or
// SHARING_RETRY_MS have passed; its result and last error.
template <typename Step>
bool RetryWhileShared(Step step) {
  const uint64_t deadline = ::GetTickCount64() + SHARING_RETRY_MS;
  for (;;) {
    if (step()) return true;
    const DWORD error = ::GetLastError();
    if (!IsSharingError(error) || ::GetTickCount64() >= deadline) return false;
    ::Sleep(SHARING_RETRY_STEP_MS);
    ::SetLastError(error);
  }
}

// Reads the whole of `file` into `bytes`; false (and the last error) when
// it cannot be read, ERROR_FILE_NOT_FOUND when it does not exist.
bool ReadWholeFile(const std::wstring& file, std::string& bytes) {
  HANDLE h = INVALID_HANDLE_VALUE;
  if (!RetryWhileShared([&] {
        h = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return h != INVALID_HANDLE_VALUE;
      }))
    return false;
  bytes.clear();
  char chunk[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ::ReadFile(h, chunk, sizeof chunk, &got, nullptr) != FALSE) && got > 0) bytes.append(chunk, got);
  CKeepLastError keep;
  ::CloseHandle(h);
  return ok;
}

// The text of a file Kernel32 reads as ANSI (no UTF-16 mark), as UTF-16LE
// with the mark; a file with the UTF-16LE mark stays as it is, one with
// the big-endian mark is turned around.
std::string AsUtf16File(const std::string& bytes) {
  static const char kMark[2] = {'\xFF', '\xFE'};
  if (bytes.size() >= 2 && bytes[0] == kMark[0] && bytes[1] == kMark[1]) return bytes;
  std::string out(kMark, 2);
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    for (size_t k = 2; k + 1 < bytes.size(); k += 2) {
      out += bytes[k + 1];
      out += bytes[k];
    }
    return out;
  }
  if (bytes.empty()) return out;
  const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
  for (wchar_t c : text) {
    out += static_cast<char>(static_cast<uint16_t>(c) & 0xFF);
    out += static_cast<char>(static_cast<uint16_t>(c) >> 8);
  }
  return out;
}

// Creates (or empties) `file` to hold `bytes`.
bool CreateFileWith(const std::wstring& file, const std::string& bytes) {
  HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  CKeepLastError keep;
  ::CloseHandle(h);
  return ok;
}

// Flushes what Kernel32 wrote into `file` to the disk.
bool FlushToDisk(const std::wstring& file) {
  HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = CurrentProfileKernelCalls().FlushFile(h);
  CKeepLastError keep;
  ::CloseHandle(h);
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
  // that ended mid-write is overwritten here. The copy is UTF-16LE whatever
  // the file was (see the file comment); a missing file starts as the mark.
  const std::wstring copy = std::wstring(file) + L".writing";
  std::string bytes;
  if (!ReadWholeFile(file, bytes) && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  if (!CreateFileWith(copy, AsUtf16File(bytes))) return false;  // e.g. no such folder
  bool ok = true;
  for (const CEscapedWrite& w : pending)
    ok = ok && ::WritePrivateProfileStringW(w.section.c_str(), w.key.c_str(), w.value.c_str(), copy.c_str()) != FALSE;
  // Kernel32 may keep the text in a cache: to the copy, then to the disk,
  // before the copy becomes the file.
  if (ok) ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, copy.c_str());
  if (ok) ok = FlushToDisk(copy);
  if (ok)
    ok = RetryWhileShared([&] {
      return ::MoveFileExW(copy.c_str(), file, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    });
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
                                wchar_t* buffer, DWORD size, const wchar_t* name) override {
    if (buffer == nullptr || size == 0) return 0;
    if (section == nullptr) return GetPrivateProfileSectionNames(buffer, size, name);
    buffer[0] = L'\0';
    if (name == nullptr) return Refuse(ERROR_INVALID_PARAMETER), 0;
    const std::wstring path = ResolveFile(name);
    const wchar_t* file = path.c_str();
    const std::wstring s = Escape(ProfilePart::SECTION, section);
    CFileLock lock(path);
    if (!lock.Held()) return 0;
    if (key == nullptr)  // the key list, as Kernel32 gives it (names escaped)
      return ::GetPrivateProfileStringW(StoredSection(s, file).c_str(), nullptr, defaultValue, buffer, size, file);
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
                                 const wchar_t* name) override {
    // Deleting keys or sections is not part of the contract.
    if (section == nullptr || key == nullptr || value == nullptr || name == nullptr)
      return Refuse(ERROR_INVALID_PARAMETER);
    const std::wstring path = ResolveFile(name);
    CFileLock lock(path);
    return lock.Held() && ReplaceWithWrites({{Escape(ProfilePart::SECTION, section), Escape(ProfilePart::KEY, key),
                                              Escape(ProfilePart::VALUE, value)}},
                                            path.c_str());
  }

  // One lock and one replacement of the file for the whole batch; a
  // malformed entry fails alone. When the replacement fails no entry is
  // written.
  bool WritePrivateProfileStrings(CProfileWrite* entries, size_t count, const wchar_t* name) override {
    if (name == nullptr) {
      for (size_t i = 0; i < count; ++i) entries[i].written = false;
      return Refuse(ERROR_INVALID_PARAMETER);
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
    const std::wstring path = ResolveFile(name);
    CFileLock lock(path);
    if (!lock.Held() || !ReplaceWithWrites(writes, path.c_str())) {
      for (size_t i = 0; i < count; ++i) entries[i].written = false;
      return false;
    }
    if (!all) ::SetLastError(ERROR_INVALID_PARAMETER);
    return all;
  }

  DWORD GetPrivateProfileSectionNames(wchar_t* buffer, DWORD size, const wchar_t* name) override {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = L'\0';
    if (size >= 2) buffer[1] = L'\0';
    if (name == nullptr) return Refuse(ERROR_INVALID_PARAMETER), 0;
    const std::wstring path = ResolveFile(name);
    CFileLock lock(path);
    if (!lock.Held()) return 0;  // an empty list, the lock's error
    const wchar_t* file = path.c_str();
    const std::vector<wchar_t> raw =
        WholeList([&](wchar_t* b, DWORD n) { return ::GetPrivateProfileSectionNamesW(b, n, file); });
    std::wstring list;
    std::wstring section;
    for (const wchar_t* p = raw.data(); p < raw.data() + raw.size() && *p != L'\0';) {
      const size_t length = std::wcslen(p);
      ProfileUnescape(p, p + length, section);
      list.append(section);
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

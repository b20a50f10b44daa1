// posix backend of platform/PrivateProfile.h: our own INI files (format in
// platform/posix/ProfileImage.h).
//
// Speed: every file's parsed and indexed image is kept in memory, keyed on
// the file's device, inode, size, modification time and generation line. A
// read that finds the file unchanged costs an open, a shared lock and a
// 62-byte read; a file that only grew (another process appended) is parsed
// from where the image ended.
//
// Writing appends one record ("[section]" and "key=value") with a single
// write at the end of the file instead of rewriting it, so a write costs the
// same however large the file is; a batch appends all its records with one
// write under one lock. A write that would not change the value writes
// nothing. When replaced values outnumber the live ones the file is
// rewritten compactly.
//
// Safety:
//   - Crashes: an append is one write (of a few hundred bytes, or a
//     batch's records); if a process dies in it, the cut-off last line is
//     ignored by readers and removed by the next writer, and the complete
//     records before it stand as if the batch had been written one by one
//     up to there. A failed append is truncated away again. A compacting
//     rewrite goes to "<file>.tmp", is flushed to disk and renamed over the
//     file, so the file is always either the old or the new complete text.
//     A temporary file that a failed compaction could not remove goes at
//     the next write of that file.
//   - Faults: every call that reads, writes, locks, syncs, renames or
//     removes goes through platform/posix/ProfileFileCalls.h, where tests
//     inject failures.
//   - Other processes: each read-modify-write holds an exclusive flock() on
//     the file and each (re)parse a shared one. A writer that locked a file
//     which a compaction has meanwhile replaced notices the changed inode
//     and starts again on the new file.
//   - Identity: device, inode, size and modification time alone can repeat
//     for two different texts (a compaction's new file may reuse a freed
//     inode, and modification times move in coarse ticks), so every file
//     this module starts, and every compacted rewrite, begins with a comment
//     line "; generation <16 hex digits>" drawn at random. An image is
//     trusted only while the file still carries its generation line.
//   - Threads: one process-wide mutex serialises all calls.
#include "platform/PrivateProfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/ErrorText.h"
#include "platform/NoDestructor.h"
#include "platform/Path.h"
#include "platform/posix/ProfileFileCalls.h"
#include "platform/posix/ProfileImage.h"

namespace platform {
namespace {

// Every call that reads, writes, locks, syncs, renames or removes goes
// through the seam, so that tests can fail any one of them.
IProfileFileCalls& Calls() { return CurrentProfileFileCalls(); }

// Bytes before the end of the parsed part that are compared again before a
// grown file is parsed only from there (a file rewritten in place by
// another program is parsed again whole).
const size_t TAIL_CHECK_BYTES = 64;
// Below this size a file is never compacted.
const off_t COMPACT_MIN_BYTES = 16 * 1024;
// Parsed images kept at most (least recently used ones are dropped).
const size_t MAX_CACHED_FILES = 64;
const int MAX_REOPEN_ATTEMPTS = 1000;

struct CFileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  bool operator==(const CFileStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtimeNs == o.mtimeNs;
  }
};

CFileStamp StampOf(const struct stat& st) {
  CFileStamp s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

struct CCachedFile {
  CProfileImage image;
  bool known = false;
  CFileStamp stamp;
  std::string generation;  // the file's generation line (bytes after the mark); empty when it has none
  std::string tailCheck;  // the bytes just before image.ValidEnd()
  uint64_t lastUse = 0;
};

// Closes a descriptor (and so releases its flock) on every path.
class CFd {
 public:
  explicit CFd(int fd = -1) : m_fd(fd) {}
  ~CFd() { Reset(); }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  int Get() const { return m_fd; }
  void Reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

bool LockFile(int fd, int operation) {
  while (Calls().Lock(fd, operation) != 0)
    if (errno != EINTR) return false;
  return true;
}

bool ReadRange(int fd, uint64_t offset, uint64_t length, std::string& out) {
  out.resize(static_cast<size_t>(length));
  size_t done = 0;
  while (done < length) {
    const ssize_t n = Calls().ReadAt(fd, &out[done], length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;  // shorter than it was a moment ago
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  return true;
}

bool WriteRange(int fd, const std::string& bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = Calls().WriteAt(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// "; generation " + 16 hex digits + CR LF, in UTF-16LE: the line that
// follows the byte-order mark of every file this module starts or rewrites.
const size_t GENERATION_LINE_CHARS = 13 + 16 + 2;
const size_t GENERATION_LINE_BYTES = 2 * GENERATION_LINE_CHARS;

std::string NewGenerationLine() {
  static std::atomic<uint64_t> s_counter{0};
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t x = (static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec)) ^
               (static_cast<uint64_t>(::getpid()) << 40) ^ (++s_counter * 0x9E3779B97F4A7C15ull);
  // splitmix64 finaliser: spreads the bits of time, pid and counter.
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  static const char kHex[] = "0123456789abcdef";
  std::string text = "; generation ";
  for (int shift = 60; shift >= 0; shift -= 4) text += kHex[(x >> shift) & 0xF];
  text += "\r\n";
  std::string bytes;
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

// Inserts a fresh generation line after the byte-order mark of `text`.
std::string WithNewGeneration(const std::string& text) {
  std::string out = text.substr(0, 2);
  out += NewGenerationLine();
  out.append(text, 2, std::string::npos);
  return out;
}

// The generation line of a whole-file text, or empty when it has none.
std::string GenerationOf(const std::string& bytes) {
  static const std::string kPrefix = [] {
    std::string p;
    for (char c : std::string("; generation ")) {
      p += c;
      p += '\0';
    }
    return p;
  }();
  if (bytes.size() < 2 + GENERATION_LINE_BYTES || bytes.compare(0, 2, CProfileImage::BOM, 2) != 0 ||
      bytes.compare(2, kPrefix.size(), kPrefix) != 0)
    return std::string();
  return bytes.substr(2, GENERATION_LINE_BYTES);
}

// True when the open file `fd` still carries the generation line of `e`
// (or `e` knows of none).
bool SameGeneration(const CCachedFile& e, int fd) {
  if (e.generation.empty()) return true;
  std::string bytes;
  return ReadRange(fd, 2, GENERATION_LINE_BYTES, bytes) && bytes == e.generation;
}

void KeepTail(CCachedFile& e, const std::string& bytes, uint64_t base) {
  const uint64_t end = e.image.ValidEnd();
  const uint64_t start = end - std::min<uint64_t>(TAIL_CHECK_BYTES, end);
  if (start >= base && end - base <= bytes.size())
    e.tailCheck.assign(bytes, static_cast<size_t>(start - base), static_cast<size_t>(end - start));
  else
    e.tailCheck.clear();
}

// Copies a list of 0-terminated names into `buffer` with the list
// convention of the Windows calls.
DWORD CopyList(const std::vector<wchar_t>& block, wchar_t* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  if (size == 1) {
    buffer[0] = L'\0';
    return 0;
  }
  if (block.size() + 1 <= size) {
    std::copy(block.begin(), block.end(), buffer);
    buffer[block.size()] = L'\0';
    if (block.empty()) buffer[1] = L'\0';
    return static_cast<DWORD>(block.size());
  }
  std::copy(block.begin(), block.begin() + (size - 2), buffer);
  buffer[size - 2] = L'\0';
  buffer[size - 1] = L'\0';
  return size - 2;
}

DWORD CopyText(const wchar_t* text, size_t length, wchar_t* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  const size_t n = std::min<size_t>(length, size - 1);
  std::copy(text, text + n, buffer);
  buffer[n] = L'\0';
  return static_cast<DWORD>(n);
}

class CPosixPrivateProfile : public IPrivateProfile {
 public:
  DWORD GetPrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                wchar_t* buffer, DWORD size, const wchar_t* file) override {
    if (buffer == nullptr || size == 0 || file == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const wchar_t* fallback = defaultValue != nullptr ? defaultValue : L"";
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string path = ToNativePath(file);
    if (section != nullptr && key != nullptr && m_files.find(path) == m_files.end() &&
        m_scannedOnce.insert(path).second) {
      // The first read of a file in this process, often its only one (a
      // one-shot lookup): read the one value without indexing the file. A
      // later read builds the full image.
      std::wstring value;
      bool found = false;
      if (ScanValue(path, section, key, value, found)) {
        if (found) return CopyText(value.data(), value.size(), buffer, size);
        return CopyText(fallback, std::wcslen(fallback), buffer, size);
      }
    }
    CCachedFile* e = Refresh(path);
    if (section == nullptr) return CopyList(e != nullptr ? e->image.NamesBlock() : std::vector<wchar_t>(), buffer, size);
    const uint32_t s = e != nullptr ? e->image.FindSection(section, std::wcslen(section)) : CProfileImage::NO_INDEX;
    if (key == nullptr) return CopyList(e != nullptr ? e->image.KeyNames(s) : std::vector<wchar_t>(), buffer, size);
    const std::wstring* value = s != CProfileImage::NO_INDEX ? e->image.FindValue(s, key, std::wcslen(key)) : nullptr;
    if (value != nullptr) return CopyText(value->data(), value->size(), buffer, size);
    return CopyText(fallback, std::wcslen(fallback), buffer, size);
  }

  DWORD GetPrivateProfileSectionNames(wchar_t* buffer, DWORD size, const wchar_t* file) override {
    if (buffer == nullptr || size == 0 || file == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    CCachedFile* e = Refresh(ToNativePath(file));
    return CopyList(e != nullptr ? e->image.NamesBlock() : std::vector<wchar_t>(), buffer, size);
  }

  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                 const wchar_t* file) override {
    CProfileWrite entry;
    entry.section = section;
    entry.key = key;
    entry.value = value;
    return WritePrivateProfileStrings(&entry, 1, file);
  }

  // One lock, one load and one append for the whole batch. Each record is
  // parsed into the image as it is formatted, so that a later entry sees
  // the sections and values of the earlier ones (spelling, unchanged
  // values); if the append fails the image is dropped and read again.
  bool WritePrivateProfileStrings(CProfileWrite* entries, size_t count, const wchar_t* file) override {
    // Deleting a key or a section (a null value or key) is not offered.
    size_t valid = 0;
    for (size_t i = 0; i < count; ++i) {
      CProfileWrite& w = entries[i];
      w.written = false;
      if (w.section != nullptr && w.key != nullptr && w.value != nullptr) ++valid;
    }
    if (file == nullptr || *file == L'\0' || valid < count) SetLastError(ERROR_INVALID_PARAMETER);
    if (file == nullptr || *file == L'\0') return false;
    if (valid == 0) return count == 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string path = ToNativePath(file);

    CFd fd;
    struct stat st {};
    if (!OpenLocked(path, fd, st)) return false;
    if (!S_ISREG(st.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    RemoveStaleTemp(path + ".tmp");
    CCachedFile& e = Entry(path);
    if (!Load(e, fd.Get(), st)) {
      SetLastError(ERROR_READ_FAULT);
      return false;
    }

    const bool rewrite = e.image.GetEncoding() == CProfileImage::Encoding::UTF8;
    const uint64_t end = e.image.ValidEnd();
    std::string records;
    bool changed = false;
    for (size_t i = 0; i < count; ++i) {
      const CProfileWrite& w = entries[i];
      if (w.section == nullptr || w.key == nullptr || w.value == nullptr) continue;
      const size_t sectionLength = std::wcslen(w.section), keyLength = std::wcslen(w.key),
                   valueLength = std::wcslen(w.value);
      const uint32_t s = e.image.FindSection(w.section, sectionLength);
      if (s != CProfileImage::NO_INDEX) {
        const std::wstring* current = e.image.FindValue(s, w.key, keyLength);
        if (current != nullptr && current->size() == valueLength && current->compare(0, valueLength, w.value) == 0)
          continue;  // already so: nothing to write
      }
      changed = true;
      if (rewrite) {
        // Not our encoding: the whole file is rewritten in it below rather
        // than mixing two.
        e.image.SetValue(w.section, sectionLength, w.key, keyLength, w.value, valueLength);
        continue;
      }
      // An existing section is written under the spelling it already has.
      const wchar_t* name = w.section;
      size_t nameLength = sectionLength;
      if (s != CProfileImage::NO_INDEX) name = e.image.SectionName(s, nameLength);
      const uint64_t at = end + records.size();
      std::string record =
          CProfileImage::FormatRecord(name, nameLength, w.key, keyLength, w.value, valueLength, at == 0);
      if (at == 0) record = WithNewGeneration(record);
      e.image.Parse(record.data(), record.size(), at);
      records += record;
    }
    if (!changed) return MarkWritten(entries, count);

    if (rewrite) {
      if (!Compact(e, path, st)) {
        e.known = false;
        return false;
      }
      return MarkWritten(entries, count);
    }

    if (static_cast<uint64_t>(st.st_size) != end && Calls().Truncate(fd.Get(), static_cast<off_t>(end)) != 0) {
      SetLastError(ErrorFromErrno(errno));
      e.known = false;
      return false;
    }
    if (!WriteRange(fd.Get(), records, end)) {
      const DWORD error = ErrorFromErrno(errno);
      // Leave no part of the batch behind.
      if (Calls().Truncate(fd.Get(), static_cast<off_t>(end)) != 0) { /* the reader skips a cut-off line anyway */ }
      e.known = false;
      SetLastError(error);
      return false;
    }
    if (end == 0) e.generation = GenerationOf(records);
    if (records.size() >= TAIL_CHECK_BYTES)
      e.tailCheck.assign(records, records.size() - TAIL_CHECK_BYTES, TAIL_CHECK_BYTES);
    else
      e.tailCheck += records;
    if (e.tailCheck.size() > TAIL_CHECK_BYTES) e.tailCheck.erase(0, e.tailCheck.size() - TAIL_CHECK_BYTES);
    struct stat after {};
    if (::fstat(fd.Get(), &after) == 0) {
      e.stamp = StampOf(after);
      e.known = true;
    } else {
      e.known = false;
    }

    if (e.known && after.st_size > COMPACT_MIN_BYTES && e.image.SupersededCount() > e.image.LiveCount()) {
      // The records are safely written; a failed compaction only leaves the
      // file longer than it needs to be.
      if (!Compact(e, path, after)) e.known = false;
    }
    return MarkWritten(entries, count);
  }

 private:
  // Marks every well-formed entry written; true when all were.
  static bool MarkWritten(CProfileWrite* entries, size_t count) {
    bool all = true;
    for (size_t i = 0; i < count; ++i) {
      CProfileWrite& w = entries[i];
      w.written = w.section != nullptr && w.key != nullptr && w.value != nullptr;
      all = all && w.written;
    }
    return all;
  }

  CCachedFile& Entry(const std::string& path) {
    auto it = m_files.find(path);
    if (it == m_files.end()) {
      if (m_files.size() >= MAX_CACHED_FILES) {
        auto oldest = m_files.begin();
        for (auto i = m_files.begin(); i != m_files.end(); ++i)
          if (i->second->lastUse < oldest->second->lastUse) oldest = i;
        m_files.erase(oldest);
      }
      it = m_files.emplace(path, std::make_unique<CCachedFile>()).first;
    }
    it->second->lastUse = ++m_useCounter;
    return *it->second;
  }

  // Brings `e` up to date with the open, locked file `fd` described by `st`.
  bool Load(CCachedFile& e, int fd, const struct stat& st) {
    const CFileStamp stamp = StampOf(st);
    const bool sameGeneration = e.known && SameGeneration(e, fd);
    if (sameGeneration && e.stamp == stamp) return true;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const uint64_t from = e.image.ValidEnd();
    if (sameGeneration && e.stamp.dev == stamp.dev && e.stamp.ino == stamp.ino && stamp.size > e.stamp.size &&
        from > 0 && size >= from && e.image.GetEncoding() != CProfileImage::Encoding::EMPTY) {
      // Grown: check the bytes before the parsed end, then parse the rest.
      const uint64_t checkFrom = from - std::min<uint64_t>(TAIL_CHECK_BYTES, from);
      std::string bytes;
      if (ReadRange(fd, checkFrom, size - checkFrom, bytes) && bytes.size() >= from - checkFrom &&
          bytes.compare(0, static_cast<size_t>(from - checkFrom), e.tailCheck) == 0) {
        const size_t skip = static_cast<size_t>(from - checkFrom);
        e.image.Parse(bytes.data() + skip, bytes.size() - skip, from);
        KeepTail(e, bytes, checkFrom);
        e.stamp = stamp;
        return true;
      }
    }
    std::string bytes;
    e.known = false;
    if (!ReadRange(fd, 0, size, bytes)) return false;
    e.image.Parse(bytes.data(), bytes.size(), 0);
    e.generation = GenerationOf(bytes);
    KeepTail(e, bytes, 0);
    e.stamp = stamp;
    e.known = true;
    return true;
  }

  // The image of the file at `path` as it is now, or null when there is no
  // readable file (which reads as a file without sections).
  CCachedFile* Refresh(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      m_files.erase(path);
      return nullptr;
    }
    CCachedFile& e = Entry(path);
    CFd fd(Calls().Open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (fd.Get() < 0 || !LockFile(fd.Get(), LOCK_SH) || ::fstat(fd.Get(), &st) != 0) {
      SetLastError(ErrorFromErrno(errno));
      return nullptr;
    }
    return Load(e, fd.Get(), st) ? &e : nullptr;
  }

  // The value of `key` in `section` of the file at `path` as the full image
  // would give it, read under the same shared lock. False (nothing decided)
  // when the file cannot be read this way; the caller then takes the usual
  // path, which reports the error.
  bool ScanValue(const std::string& path, const wchar_t* section, const wchar_t* key, std::wstring& value,
                 bool& found) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    CFd fd(Calls().Open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (fd.Get() < 0 || !LockFile(fd.Get(), LOCK_SH) || ::fstat(fd.Get(), &st) != 0) return false;
    std::string bytes;
    if (!ReadRange(fd.Get(), 0, static_cast<uint64_t>(st.st_size), bytes)) return false;
    CProfileImage image;
    image.SetSectionFilter(section, std::wcslen(section));
    image.Parse(bytes.data(), bytes.size(), 0);
    const uint32_t s = image.FindSection(section, std::wcslen(section));
    const std::wstring* stored = s != CProfileImage::NO_INDEX ? image.FindValue(s, key, std::wcslen(key)) : nullptr;
    found = stored != nullptr;
    if (found) value = *stored;
    return true;
  }

  // Opens (creating) the file at `path` and locks it exclusively, making
  // sure the locked file is still the one at `path`.
  bool OpenLocked(const std::string& path, CFd& fd, struct stat& st) {
    for (int attempt = 0; attempt < MAX_REOPEN_ATTEMPTS; ++attempt) {
      fd.Reset(Calls().Open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
      if (fd.Get() < 0 || !LockFile(fd.Get(), LOCK_EX) || ::fstat(fd.Get(), &st) != 0) {
        SetLastError(ErrorFromErrno(errno));
        fd.Reset();
        return false;
      }
      struct stat now {};
      if (::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) return true;
    }
    fd.Reset();
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }

  // Rewrites the file at `path` from the image: a new file beside it,
  // flushed, then renamed over it. `st` describes the file being replaced.
  bool Compact(CCachedFile& e, const std::string& path, const struct stat& st) {
    const std::string bytes = WithNewGeneration(e.image.FormatCompact());
    const std::string temp = path + ".tmp";
    struct stat written {};
    bool ok;
    {
      CFd out(Calls().Open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      ok = out.Get() >= 0 && ::fchmod(out.Get(), st.st_mode & 07777) == 0 && WriteRange(out.Get(), bytes, 0) &&
           Calls().Sync(out.Get()) == 0 && ::fstat(out.Get(), &written) == 0;
      if (!ok) SetLastError(ErrorFromErrno(errno));
    }
    if (ok && Calls().Rename(temp.c_str(), path.c_str()) != 0) {
      SetLastError(ErrorFromErrno(errno));
      ok = false;
    }
    if (!ok) {
      // A temporary file that cannot be removed now is removed by the next
      // write that holds the file's lock.
      if (Calls().Unlink(temp.c_str()) != 0 && errno != ENOENT) m_staleTemps.insert(temp);
      return false;
    }
    SyncDirectoryOf(path);
    e.image.Parse(bytes.data(), bytes.size(), 0);
    e.generation = GenerationOf(bytes);
    KeepTail(e, bytes, 0);
    e.stamp = StampOf(written);
    e.known = true;
    return true;
  }

  // Under the file's exclusive lock no compaction of it is under way, so a
  // temporary file left by an earlier failed one can go.
  void RemoveStaleTemp(const std::string& temp) {
    if (m_staleTemps.empty()) return;
    auto it = m_staleTemps.find(temp);
    if (it == m_staleTemps.end()) return;
    if (Calls().Unlink(temp.c_str()) == 0 || errno == ENOENT) m_staleTemps.erase(it);
  }

  static void SyncDirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    CFd d(Calls().Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (d.Get() >= 0) Calls().Sync(d.Get());
  }

  std::mutex m_mutex;
  std::unordered_map<std::string, std::unique_ptr<CCachedFile>> m_files;
  std::unordered_set<std::string> m_staleTemps;  // temporary files a failed compaction could not remove
  std::unordered_set<std::string> m_scannedOnce;  // files whose first read was a scan for one value
  uint64_t m_useCounter = 0;

 public:
  // Frees every parsed image; later calls simply read the files again.
  void DropImages() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unordered_map<std::string, std::unique_ptr<CCachedFile>>().swap(m_files);
    std::unordered_set<std::string>().swap(m_scannedOnce);
  }
};

CPosixPrivateProfile& SystemInstance() {
  static NoDestructor<CPosixPrivateProfile> s_instance;
  return *s_instance.get();
}

// The module object is never destroyed, so that code running during static
// destruction can still use it; its parsed images, which can be large, are
// released when the library unloads, so that a host that loads and unloads
// the plug-in repeatedly does not lose that memory each time.
struct CImageReleaser {
  ~CImageReleaser() { SystemInstance().DropImages(); }
} g_imageReleaser;

}  // namespace

IPrivateProfile& SystemPrivateProfile() { return SystemInstance(); }

}  // namespace platform

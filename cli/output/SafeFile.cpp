#include "cli/output/SafeFile.h"

#include <filesystem>
#include <system_error>

#include "cli/sys/PathText.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

// Attempts at a fresh random name before giving up: a clash among 36^8
// names means someone is planting files, or the folder is full of ours.
constexpr int NAME_ATTEMPTS = 16;

bool HasOwnPattern(const std::string& name, const char* suffix) {
  const std::string prefix = TEMP_FILE_PREFIX;
  const std::string end = suffix;
  if (name.size() != prefix.size() + 8 + end.size()) return false;
  if (name.compare(0, prefix.size(), prefix) != 0 || name.compare(prefix.size() + 8, end.size(), end) != 0)
    return false;
  for (size_t i = prefix.size(); i < prefix.size() + 8; ++i) {
    char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

}  // namespace

bool IsOwnTemporaryName(const std::string& name) {
  return HasOwnPattern(name, TEMP_FILE_SUFFIX) || HasOwnPattern(name, JOURNAL_FILE_SUFFIX) ||
         name.compare(0, 15, ".versewell-tmp-") == 0;
}

std::string FolderOf(const std::string& path) {
  fs::path parent = PathFromUtf8(path).parent_path();
  return parent.empty() ? std::string(".") : Utf8FromPath(parent);
}

CNewFile::~CNewFile() { Discard(); }

std::string CNewFile::Failure(int code) const {
  return "cannot write " + m_strDestination + ": " + safesys::ErrorText(code);
}

bool CNewFile::Create(const std::string& folder, const std::string& destination, std::string& error,
                      const char* suffix) {
  Discard();
  m_strDestination = destination;
  int code = 0;
  for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
    const std::string name = std::string(TEMP_FILE_PREFIX) + safesys::RandomCharacters() + suffix;
    const std::string path = Utf8FromPath(PathFromUtf8(folder) / PathFromUtf8(name));
    m_hFile = safesys::CreateNew(path, code);
    if (m_hFile != safesys::NO_HANDLE) {
      m_strPath = path;
      // Locked for its whole life: a later run's clean-up leaves it alone.
      safesys::Lock(m_hFile, false, code);
      return true;
    }
    if (!safesys::IsAlreadyExists(code)) break;
  }
  error = Failure(code);
  return false;
}

bool CNewFile::Write(const char* data, size_t size, std::string& error) {
  int code = 0;
  if (safesys::WriteAll(m_hFile, data, size, code)) return true;
  error = Failure(code);
  return false;
}

bool CNewFile::Commit(const std::string& destination, std::string& error) {
  int code = 0;
  if (!safesys::Sync(m_hFile, code)) {
    error = Failure(code);
    Discard();
    return false;
  }
  // Windows cannot rename a file that is open without delete sharing in
  // every handle; ours is closed first on every platform alike.
  safesys::Close(m_hFile);
  m_hFile = safesys::NO_HANDLE;
  if (!safesys::Replace(m_strPath, destination, code)) {
    error = Failure(code);
    Discard();
    return false;
  }
  m_strPath.clear();
  return true;
}

void CNewFile::Discard() {
  if (m_hFile != safesys::NO_HANDLE) safesys::Close(m_hFile);
  m_hFile = safesys::NO_HANDLE;
  int ignored = 0;
  if (!m_strPath.empty()) safesys::Remove(m_strPath, ignored);
  m_strPath.clear();
}

void CNewFile::Keep() {
  if (m_hFile != safesys::NO_HANDLE) safesys::Close(m_hFile);
  m_hFile = safesys::NO_HANDLE;
  m_strPath.clear();
}

bool WriteFileSafely(const std::string& destination, const std::string& content, std::string& error) {
  CNewFile file;
  return file.Create(FolderOf(destination), destination, error) && file.Write(content, error) &&
         file.Commit(destination, error);
}

bool FolderTakesFiles(const std::string& folder, std::string& error) {
  CNewFile probe;
  std::string message;
  if (!probe.Create(folder, folder, message)) {
    error = message.substr(message.find(": ") + 2);
    return false;
  }
  if (!probe.Write("versewell\n", message)) {
    error = message.substr(message.find(": ") + 2);
    return false;
  }
  return true;  // the destructor removes the probe
}

bool ReadRegularFile(const std::string& path, std::string& content, int& error, uint64_t limit,
                     bool followLinks) {
  safesys::Handle file = safesys::OpenRegular(path, false, followLinks, error);
  if (file == safesys::NO_HANDLE) return false;
  content.clear();
  char buffer[65536];
  long long n;
  while ((n = safesys::Read(file, buffer, sizeof buffer, error)) > 0) {
    if (content.size() + static_cast<uint64_t>(n) > limit) {
      safesys::Close(file);
      error = safesys::NoSpaceError();
      return false;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  safesys::Close(file);
  return n == 0;
}

int64_t RunStartTime() {
  // File systems stamp times from a coarse clock, which may lag the precise
  // one: two seconds' margin keeps this run's own files out of "older".
  static const int64_t start = safesys::FileClockNow() - 2 * safesys::FileClockSecond();
  return start;
}

void RemoveStaleTemporaries(const std::string& folder, SReclaimed& reclaimed) {
  const int64_t start = RunStartTime();
  std::error_code ec;
  for (fs::directory_iterator it(PathFromUtf8(folder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (!IsOwnTemporaryName(name) || HasOwnPattern(name, JOURNAL_FILE_SUFFIX)) continue;
    const std::string path = Utf8FromPath(it->path());
    int code = 0;
    // Not followed, and only a regular file: a planted link or FIFO under
    // our pattern is left to its owner.
    safesys::Handle file = safesys::OpenRegular(path, false, false, code);
    if (file == safesys::NO_HANDLE) continue;
    safesys::SIdentity identity;
    if (safesys::Identify(file, identity, code) && identity.nModified < start && safesys::Lock(file, false, code)) {
      if (safesys::Remove(path, code)) {
        ++reclaimed.nFiles;
        reclaimed.nBytes += identity.nSize;
      }
    }
    safesys::Close(file);
  }
}

std::string DescribeReclaimed(const SReclaimed& reclaimed) {
  if (reclaimed.nFiles == 0) return std::string();
  return "reclaimed " + std::to_string(reclaimed.nBytes) + " bytes in " + std::to_string(reclaimed.nFiles) +
         " stale temporary file" + (reclaimed.nFiles == 1 ? "" : "s");
}

}  // namespace cli

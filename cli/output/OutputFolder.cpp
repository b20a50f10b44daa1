#include "cli/output/OutputFolder.h"

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "cli/output/FieldEscape.h"
#include "cli/output/FileNames.h"
#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

std::string Folded(const std::string& path) { return WideToUtf8(FoldCase(Utf8ToWide(path))); }

// Index files above this size are refused: no index of lyrics files grows
// so large, and reading one must stay bounded.
constexpr uint64_t MAX_INDEX_BYTES = 256ull << 20;
// Rewrite the index after every save while it has fewer lines than this.
constexpr size_t SMALL_INDEX_LINES = 256;

}  // namespace

COutputFolder::COutputFolder(std::string root) : m_strRoot(std::move(root)) {}

COutputFolder::~COutputFolder() {
  std::string ignored;
  Finish(ignored);
  safesys::UnlockFolder(m_hLock);
}

std::string COutputFolder::Join(const std::string& relative) const {
  return Utf8FromPath(PathFromUtf8(m_strRoot) / PathFromUtf8(relative));
}

bool COutputFolder::Prepare(std::string& error) {
  std::error_code ec;
  const fs::path root = PathFromUtf8(m_strRoot);
  fs::create_directories(root, ec);
  if (ec) {
    error = "cannot create the output folder " + m_strRoot + ": " + ec.message();
    return false;
  }
  if (!fs::is_directory(root, ec)) {
    error = "the output folder " + m_strRoot + " is not a folder";
    return false;
  }
  int code = 0;
  for (int waited = 0;; waited += 100) {
    m_hLock = safesys::LockFolder(m_strRoot, code);
    if (m_hLock != safesys::NO_HANDLE) break;
    if (!safesys::IsLockBusy(code)) {
      error = "cannot lock the output folder " + m_strRoot + ": " + safesys::ErrorText(code);
      return false;
    }
    if (waited >= FOLDER_LOCK_WAIT_MS || hostplatform::StopRequested()) {
      m_bBusy = true;
      error = "another run holds the output folder " + m_strRoot + "; try again when it has finished";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::string reason;
  if (!FolderTakesFiles(m_strRoot, reason)) {
    error = "cannot write into the output folder " + m_strRoot + ": " + reason;
    return false;
  }
  m_nMaxComponentBytes = hostplatform::MaxFileNameBytes(m_strRoot);
  std::lock_guard<std::mutex> lock(m_mutex);
  CleanFolderLocked(m_strRoot);
  return LoadIndex(error);
}

bool COutputFolder::Inspect(std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(PathFromUtf8(m_strRoot), ec)) return true;  // nothing saved there yet
  m_nMaxComponentBytes = hostplatform::MaxFileNameBytes(m_strRoot);
  std::lock_guard<std::mutex> lock(m_mutex);
  return LoadIndex(error);
}

SReclaimed COutputFolder::Reclaimed() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_reclaimed;
}

void COutputFolder::CleanFolderLocked(const std::string& folder) {
  if (m_setCleaned.insert(folder).second) RemoveStaleTemporaries(folder, m_reclaimed);
}

bool COutputFolder::LoadIndex(std::string& error) {
  const std::string path = Join(INDEX_FILE_NAME);
  std::string text;
  int code = 0;
  // Not through a link (the index is ours, beside the files), never a FIFO.
  if (!ReadRegularFile(path, text, code, MAX_INDEX_BYTES)) {
    if (safesys::IsNotFound(code)) return true;
    error = "cannot read " + path + ": " + safesys::ErrorText(code);
    return false;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // cut short while it was written
    std::string line = text.substr(start, end - start);
    start = end + 1;
    size_t tab = line.find('\t');
    if (line.empty()) continue;
    if (line[0] == '#' || tab == std::string::npos) {
      m_vecOtherLines.push_back(line);
      continue;
    }
    const std::string relative = UnescapeField(line.substr(0, tab));
    const std::string address = UnescapeField(line.substr(tab + 1));
    const std::string key = Folded(relative);
    m_mapIndexOwner[key] = address;
    auto at = m_mapLineOf.find(key);
    if (at != m_mapLineOf.end()) {
      m_vecIndexLines[at->second] = {relative, address};
    } else {
      m_mapLineOf[key] = m_vecIndexLines.size();
      m_vecIndexLines.push_back({relative, address});
    }
  }
  return true;
}

bool COutputFolder::WriteIndexLocked(std::string& error) {
  std::string text;
  for (const std::string& line : m_vecOtherLines) text += line + "\n";
  for (const auto& entry : m_vecIndexLines) text += EscapeField(entry.first) + "\t" + EscapeField(entry.second) + "\n";
  if (!WriteFileSafely(Join(INDEX_FILE_NAME), text, error)) return false;
  m_nUnwritten = 0;
  return true;
}

bool COutputFolder::Finish(std::string& error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_nUnwritten == 0) return true;
  return WriteIndexLocked(error);
}

COutputFolder::SPlacement COutputFolder::Claim(const std::string& address, const std::string& relative,
                                               const std::string* content) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (unsigned n = 1;; ++n) {
    SPlacement placement;
    placement.strRelative = NumberedVariant(relative, n);
    placement.strPath = Join(placement.strRelative);
    const std::string key = Folded(placement.strRelative);
    auto claimed = m_mapClaimed.find(key);
    if (claimed != m_mapClaimed.end() && claimed->second != address) continue;
    auto owner = m_mapIndexOwner.find(key);
    bool ours = owner != m_mapIndexOwner.end() && owner->second == address;
    std::error_code ec;
    const fs::path path = PathFromUtf8(placement.strPath);
    bool exists = fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
    if (exists && owner == m_mapIndexOwner.end() && content != nullptr && claimed == m_mapClaimed.end()) {
      // An orphan: ours when it holds exactly what would be written now.
      std::string existing;
      int code = 0;
      if (ReadRegularFile(placement.strPath, existing, code, content->size()) && existing == *content) ours = true;
    }
    if (exists && !ours) continue;  // another page's file, or one the index does not know
    if (!exists && owner != m_mapIndexOwner.end() && !ours) continue;
    placement.bSaved = exists && fs::is_regular_file(fs::symlink_status(path, ec));
    m_mapClaimed[key] = address;
    return placement;
  }
}

bool COutputFolder::Save(const SPlacement& placement, const std::string& address, const std::string& content,
                         std::string& error) {
  const fs::path destination = PathFromUtf8(placement.strPath);
  const std::string folder = Utf8FromPath(destination.parent_path());
  std::error_code ec;
  fs::create_directories(destination.parent_path(), ec);
  if (ec) {
    error = "cannot create the folder " + folder + ": " + ec.message();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CleanFolderLocked(folder);
  }
  if (!WriteFileSafely(placement.strPath, content, error)) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string key = Folded(placement.strRelative);
  auto owner = m_mapIndexOwner.find(key);
  if (owner != m_mapIndexOwner.end() && owner->second == address) return true;
  m_mapIndexOwner[key] = address;
  auto at = m_mapLineOf.find(key);
  if (at != m_mapLineOf.end()) {
    m_vecIndexLines[at->second] = {placement.strRelative, address};
  } else {
    m_mapLineOf[key] = m_vecIndexLines.size();
    m_vecIndexLines.push_back({placement.strRelative, address});
  }
  ++m_nUnwritten;
  // Rewriting the whole index costs its length: after every save while it
  // is small, then every 1/32 of its length, so a long run stays linear.
  if (m_vecIndexLines.size() < SMALL_INDEX_LINES || m_nUnwritten * 32 >= m_vecIndexLines.size()) {
    std::string reason;
    if (!WriteIndexLocked(reason)) {
      // The lyrics file stands; the next run adopts it.
      error = reason;
      return false;
    }
  }
  return true;
}

}  // namespace cli

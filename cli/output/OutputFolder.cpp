#include "cli/output/OutputFolder.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/output/FileNames.h"
#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

std::string Folded(const std::string& path) { return WideToUtf8(FoldCase(Utf8ToWide(path))); }

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\t': out += "%09"; break;
      case '\n': out += "%0A"; break;
      case '\r': out += "%0D"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "%25") == 0) {
      out += '%';
    } else if (text.compare(i, 3, "%09") == 0) {
      out += '\t';
    } else if (text.compare(i, 3, "%0A") == 0) {
      out += '\n';
    } else if (text.compare(i, 3, "%0D") == 0) {
      out += '\r';
    } else {
      out += text[i];
      continue;
    }
    i += 2;
  }
  return out;
}

// Writes all of `content` to a new file; on failure returns the errno.
int WriteNewFile(const std::string& path, const std::string& content) {
  errno = 0;
  std::FILE* file = hostplatform::OpenFile(path, "wb");
  if (file == nullptr) return errno != 0 ? errno : EIO;
  int error = 0;
  if (!content.empty() && std::fwrite(content.data(), 1, content.size(), file) != content.size())
    error = errno != 0 ? errno : EIO;
  if (std::fflush(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  return error;
}

}  // namespace

COutputFolder::COutputFolder(std::string root) : m_strRoot(std::move(root)) {}

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
  const std::string probe = Join(".versewell-write-test-" + std::to_string(hostplatform::ProcessId()));
  int written = WriteNewFile(probe, "versewell\n");
  fs::remove(PathFromUtf8(probe), ec);
  if (written != 0) {
    error = "cannot write into the output folder " + m_strRoot + ": " + ErrnoText(written);
    return false;
  }
  size_t limit = hostplatform::MaxFileNameBytes(m_strRoot);
  m_nMaxComponentBytes = limit > TEMP_NAME_RESERVE + 24 ? limit - TEMP_NAME_RESERVE : 24;
  return LoadIndex(error);
}

bool COutputFolder::LoadIndex(std::string& error) {
  const std::string path = Join(INDEX_FILE_NAME);
  errno = 0;
  std::FILE* file = hostplatform::OpenFile(path, "rb");
  if (file == nullptr) {
    if (errno == ENOENT) return true;
    error = "cannot read " + path + ": " + ErrnoText(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  std::lock_guard<std::mutex> lock(m_mutex);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();  // a last line cut short by a crash still counts
    std::string line = text.substr(start, end - start);
    start = end + 1;
    size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    m_mapIndexOwner[Folded(Unescape(line.substr(0, tab)))] = Unescape(line.substr(tab + 1));
  }
  return true;
}

COutputFolder::SPlacement COutputFolder::Claim(const std::string& address, const std::string& relative) {
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
    if (exists && !ours) continue;  // another page's file, or one the index does not know
    if (!exists && owner != m_mapIndexOwner.end() && !ours) continue;
    placement.bSaved = exists && fs::is_regular_file(path, ec);
    m_mapClaimed[key] = address;
    return placement;
  }
}

bool COutputFolder::Save(const SPlacement& placement, const std::string& address, const std::string& content,
                         std::string& error) {
  const fs::path destination = PathFromUtf8(placement.strPath);
  std::error_code ec;
  fs::create_directories(destination.parent_path(), ec);
  if (ec) {
    error = "cannot create the folder " + Utf8FromPath(destination.parent_path()) + ": " + ec.message();
    return false;
  }
  const fs::path temp =
      destination.parent_path() / PathFromUtf8("." + Utf8FromPath(destination.filename()) + ".part-" +
                                               std::to_string(hostplatform::ProcessId()) + "-" +
                                               std::to_string(++m_nTempCounter));
  int written = WriteNewFile(Utf8FromPath(temp), content);
  if (written == 0) {
    fs::rename(temp, destination, ec);
    if (ec) written = ec.value();
  }
  if (written != 0) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    error = "cannot write " + placement.strPath + ": " + ErrnoText(written);
    return false;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string key = Folded(placement.strRelative);
  if (m_mapIndexOwner.count(key) != 0 && m_mapIndexOwner[key] == address) return true;
  const std::string indexPath = Join(INDEX_FILE_NAME);
  errno = 0;
  std::FILE* index = hostplatform::OpenFile(indexPath, "ab");
  int failure = index == nullptr ? (errno != 0 ? errno : EIO) : 0;
  if (index != nullptr) {
    std::string line = Escape(placement.strRelative) + "\t" + Escape(address) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), index) != line.size()) failure = errno != 0 ? errno : EIO;
    if (std::fclose(index) != 0 && failure == 0) failure = errno != 0 ? errno : EIO;
  }
  if (failure != 0) {
    error = "cannot write " + indexPath + ": " + ErrnoText(failure);
    return false;
  }
  m_mapIndexOwner[key] = address;
  return true;
}

}  // namespace cli

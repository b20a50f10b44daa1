#include "cli/output/CacheFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string DefaultCacheFolder() {
  return hostplatform::UserCacheFolder();
}

bool PrepareCacheFolder(const std::string& folder, std::string& error) {
  std::error_code ec;
  const fs::path root = PathFromUtf8(folder);
  fs::create_directories(root, ec);
  if (ec) {
    error = "cannot create " + folder + ": " + ec.message();
    return false;
  }
  const fs::path probe = root / PathFromUtf8(".versewell-write-test-" + std::to_string(hostplatform::ProcessId()));
  errno = 0;
  std::FILE* file = hostplatform::OpenFile(Utf8FromPath(probe), "wb");
  int failure = file == nullptr ? errno : 0;
  if (file != nullptr && std::fclose(file) != 0) failure = errno;
  fs::remove(probe, ec);
  if (file == nullptr || failure != 0) {
    error = "cannot write into " + folder + ": " + std::error_code(failure != 0 ? failure : EIO, std::generic_category()).message();
    return false;
  }
  return true;
}

bool ClearCacheFolder(const std::string& folder, size_t& removed, size_t& kept, std::string& error) {
  removed = kept = 0;
  std::error_code ec;
  const fs::path root = PathFromUtf8(folder);
  if (!fs::exists(fs::symlink_status(root, ec))) return true;
  if (!fs::is_directory(fs::symlink_status(root, ec))) {
    error = folder + " is not a folder; nothing was deleted";
    return false;
  }
  std::vector<fs::path> folders = {root};
  fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
  if (ec) {
    error = "cannot read " + folder + ": " + ec.message();
    return false;
  }
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) {
      error = "cannot read " + folder + ": " + ec.message();
      return false;
    }
    const fs::path path = it->path();
    fs::file_status status = it->symlink_status(ec);
    if (fs::is_directory(status)) {
      folders.push_back(path);
      continue;
    }
    const std::string name = Utf8FromPath(path.filename());
    if (fs::is_regular_file(status) && (EndsWith(name, ".ARTISTCACHE") || EndsWith(name, ".ARTISTCACHE.tmp"))) {
      if (!fs::remove(path, ec) || ec) {
        error = "cannot delete " + Utf8FromPath(path) + ": " + ec.message();
        return false;
      }
      ++removed;
    } else {
      ++kept;
    }
  }
  // Deepest first: a folder is removed only once it is empty.
  for (auto folderIt = folders.rbegin(); folderIt != folders.rend(); ++folderIt)
    if (fs::is_empty(*folderIt, ec) && !ec) fs::remove(*folderIt, ec);
  return true;
}

}  // namespace cli

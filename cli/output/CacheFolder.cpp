#include "cli/output/CacheFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <set>
#include <vector>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/PathText.h"
#include "cli/output/SafeFile.h"

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
  std::string reason;
  if (!FolderTakesFiles(folder, reason)) {
    error = "cannot write into " + folder + ": " + reason;
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
  // Folders that held a cache file: the plug-in made those; the others are
  // the user's, even when empty.
  std::set<fs::path> cacheFolders = {root};
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
      for (fs::path up = path.parent_path(); up != root && up.has_relative_path(); up = up.parent_path())
        if (!cacheFolders.insert(up).second) break;
    } else {
      ++kept;
    }
  }
  // Deepest first: a folder is removed only once it is empty, and only one
  // that held cache files (or the cache folder itself, once empty).
  for (auto folderIt = folders.rbegin(); folderIt != folders.rend(); ++folderIt)
    if (cacheFolders.count(*folderIt) != 0 && fs::is_empty(*folderIt, ec) && !ec) fs::remove(*folderIt, ec);
  return true;
}

}  // namespace cli

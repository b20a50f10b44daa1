#include "cli/input/MusicLibraryWalk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "cli/input/AudioTags.h"
#include "cli/output/SafeFile.h"
#include "cli/sys/PathText.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

void WalkFolder(const fs::path& folder, SMusicLibraryWalk& walk) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    walk.vecProblems.push_back({Utf8FromPath(folder), "cannot open the folder: " + ec.message()});
    return;
  }
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      walk.vecProblems.push_back({Utf8FromPath(folder), "cannot read the folder: " + ec.message()});
      break;
    }
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  for (const fs::directory_entry& entry : entries) {
    const std::string name = Utf8FromPath(entry.path().filename());
    if (IsOwnTemporaryName(name)) continue;
    fs::file_status status = entry.symlink_status(ec);
    if (ec) {
      walk.vecProblems.push_back({Utf8FromPath(entry.path()), "cannot examine: " + ec.message()});
      continue;
    }
    if (fs::is_directory(status)) {
      WalkFolder(entry.path(), walk);
      continue;
    }
    if (!IsAudioFileName(name)) continue;
    if (fs::is_symlink(status)) status = entry.status(ec);
    if (!ec && fs::is_regular_file(status)) walk.vecFiles.push_back(Utf8FromPath(entry.path()));
  }
}

}  // namespace

SMusicLibraryWalk WalkMusicLibrary(const std::string& root) {
  SMusicLibraryWalk walk;
  std::error_code ec;
  if (!fs::is_directory(PathFromUtf8(root), ec)) {
    // A single audio file is a library of one song.
    std::error_code fileError;
    if (!ec && fs::is_regular_file(PathFromUtf8(root), fileError) &&
        IsAudioFileName(Utf8FromPath(PathFromUtf8(root).filename()))) {
      walk.vecFiles.push_back(root);
      return walk;
    }
    walk.vecProblems.push_back({root, ec ? ec.message() : "neither a folder nor an audio file"});
    return walk;
  }
  WalkFolder(PathFromUtf8(root), walk);
  return walk;
}

}  // namespace cli

// The audio tag reader of a build without TagLib (the Windows build: Debian
// has no mingw-w64 TagLib). The `library` command is refused before it runs
// (AudioTagsAvailable), so these functions are only a safe floor: no file
// counts as an audio file this build can read, and nothing is written.
// Threads: any; no state.
#include "cli/input/AudioTags.h"

namespace cli {

bool AudioTagsAvailable() { return false; }

bool IsAudioFileName(const std::string&) { return false; }

SAudioTags ReadAudioTags(const std::string&) {
  SAudioTags tags;
  tags.strError = "this build has no audio tag reader";
  return tags;
}

bool EmbedLyrics(const std::string&, const std::string&, std::string& error) {
  error = "this build has no audio tag reader";
  return false;
}

}  // namespace cli

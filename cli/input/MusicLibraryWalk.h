// Finds the audio files under a music folder for `versewell library`.
//
// Walks `root` recursively, in sorted order (so runs are repeatable), and
// returns every regular file whose extension IsAudioFileName accepts.
// Symbolic links to folders are not followed (no loops); this program's own
// temporary files are ignored. A folder that cannot be opened, or an entry
// that cannot be examined, is added to `problems` and the walk goes on.
//
// Failure: a `root` that is not a readable folder gives no files and one
// problem. Threads: any thread.
#ifndef VERSEWELL_CLI_MUSIC_LIBRARY_WALK_H
#define VERSEWELL_CLI_MUSIC_LIBRARY_WALK_H

#include <string>
#include <vector>

namespace cli {

struct SWalkProblem {
  std::string strPath;
  std::string strReason;
};

struct SMusicLibraryWalk {
  std::vector<std::string> vecFiles;
  std::vector<SWalkProblem> vecProblems;
};

SMusicLibraryWalk WalkMusicLibrary(const std::string& root);

}  // namespace cli

#endif  // VERSEWELL_CLI_MUSIC_LIBRARY_WALK_H

// The song list that `versewell batch` reads: one song per line.
//
//   Artist<TAB>Title      the first tab splits
//   Artist - Title        otherwise the first " - " splits
//
// Blank lines (white space only) and lines whose first non-blank character
// is '#' are skipped. A line that splits into an empty artist or title, or
// does not split at all, is reported with its 1-based line number and
// skipped; it never ends the run. A carriage return before the line feed and
// a UTF-8 byte-order mark at the start are removed. Fields are trimmed.
//
// Lines longer than MAX_BATCH_LINE_BYTES are malformed (a list of song names
// has no business holding them), so a hostile input costs linear time.
// Failure: none beyond the per-line reports. Threads: pure functions.
#ifndef VERSEWELL_CLI_BATCH_INPUT_H
#define VERSEWELL_CLI_BATCH_INPUT_H

#include <istream>
#include <string>
#include <vector>

namespace cli {

constexpr size_t MAX_BATCH_LINE_BYTES = 4096;

struct SBatchSong {
  size_t nLine = 0;  // 1-based line number in the input
  std::string strArtist;  // UTF-8, trimmed
  std::string strTitle;   // UTF-8, trimmed
};

struct SBatchProblem {
  size_t nLine = 0;
  std::string strReason;
};

struct SBatchInput {
  std::vector<SBatchSong> vecSongs;
  std::vector<SBatchProblem> vecProblems;
};

// Parses one line (without its line feed). Returns true and fills `song`
// for a song line; returns false with `reason` empty for a line to skip
// silently, or with `reason` set for a malformed line.
bool ParseBatchLine(const std::string& line, SBatchSong& song, std::string& reason);

SBatchInput ReadBatchInput(std::istream& in);

}  // namespace cli

#endif  // VERSEWELL_CLI_BATCH_INPUT_H

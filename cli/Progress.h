// The fetch-all progress bar on standard error: done/total, a bar, the
// current title and the elapsed time, redrawn in place on one line. It is
// drawn only while standard error is a terminal; otherwise every call does
// nothing, so logs and pipes never see control characters.
// Threads: the main thread only.
#ifndef VERSEWELL_CLI_PROGRESS_H
#define VERSEWELL_CLI_PROGRESS_H

#include <chrono>
#include <string>

namespace cli {

class CProgress {
 public:
  explicit CProgress(bool enabled);
  void Update(size_t done, size_t total, const std::string& title);
  // Clears the bar's line so that later messages start clean.
  void Finish();

  // The line drawn for a state, cut to `columns` characters (for tests).
  static std::string Render(size_t done, size_t total, const std::string& title, long seconds, int columns);

 private:
  bool m_bEnabled;
  bool m_bDrawn = false;
  std::chrono::steady_clock::time_point m_start;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_PROGRESS_H

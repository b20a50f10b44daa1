// The progress line on standard error while songs are fetched: done/total,
// a bar, the elapsed time and the current title, redrawn in place.
//
// The line is measured in terminal columns, not bytes or characters: wide
// CJK characters take two columns, combining marks none, so the line never
// wraps. It is drawn only when standard error is a terminal and neither
// --no-progress nor -q/--quiet was given; with TERM=dumb it is redrawn with
// a carriage return and blanks alone, without escape sequences.
//
// Threads: Update and Finish may be called from any thread; one mutex keeps
// the line whole, so several workers can feed one display.
#ifndef VERSEWELL_CLI_PROGRESS_H
#define VERSEWELL_CLI_PROGRESS_H

#include <chrono>
#include <mutex>
#include <string>

namespace cli {

enum class EProgressStyle {
  Off,    // draw nothing
  Plain,  // carriage return and blanks only (TERM=dumb)
  Ansi,   // carriage return and "erase line"
};

// `term` is the TERM variable (may be null).
EProgressStyle ChooseProgressStyle(bool stderrIsTerminal, const char* term, bool noProgress, bool quiet);

// Terminal columns of UTF-8 text (control characters count 0).
size_t DisplayWidth(const std::string& text);
// The longest start of `text` that takes at most `columns` columns.
std::string CutToWidth(const std::string& text, size_t columns);

class CProgress {
 public:
  explicit CProgress(EProgressStyle style);
  void Update(size_t done, size_t total, const std::string& title);
  // Clears the line so that later messages start clean.
  void Finish();

  // The line drawn for a state: at most `columns` - 1 columns, control
  // characters in the title shown as blanks, a title that does not fit cut
  // and ended with "...".
  static std::string Render(size_t done, size_t total, const std::string& title, long seconds, int columns);

 private:
  const EProgressStyle m_eStyle;
  const std::chrono::steady_clock::time_point m_start;
  std::mutex m_mutex;
  size_t m_nDrawnColumns = 0;  // width of the line on screen; 0 when none
};

}  // namespace cli

#endif  // VERSEWELL_CLI_PROGRESS_H

// File names for saved lyrics: safe on every common filesystem and unique
// within one folder.
//
// A song title becomes a name that Linux, Windows and macOS all accept: no
// path separators, no characters Windows reserves (< > : " / \ | ? *), no
// control characters, no leading dot, no trailing dot or blank, not one of
// Windows' device names (CON, NUL, COM1, ...), and at most MAX_NAME_BYTES
// bytes of UTF-8 before the extension, cut on a character boundary.
// CUniqueNamer then makes names unique the way a case-insensitive filesystem
// sees them, by appending " (2)", " (3)" and so on. The names depend only on
// the list of titles and its order, so running the same list again yields
// the same names (which is how a second fetch finds and skips its files).
//
// Failure: none; a title with nothing usable becomes "untitled".
// Threads: pure functions and a plain value class.
#ifndef VERSEWELL_CLI_FILE_NAMES_H
#define VERSEWELL_CLI_FILE_NAMES_H

#include <set>
#include <string>

namespace cli {

constexpr size_t MAX_NAME_BYTES = 120;

// The safe base name (UTF-8, without extension) for a wide title.
std::string SafeBaseName(const std::wstring& title);

class CUniqueNamer {
 public:
  // Returns base + extension, or base + " (n)" + extension for the n-th use
  // of a name that differs only in letter case from an earlier one.
  std::string Assign(const std::string& base, const std::string& extension);

 private:
  std::set<std::wstring> m_setUsed;  // folded names handed out so far
};

}  // namespace cli

#endif  // VERSEWELL_CLI_FILE_NAMES_H

// What batch and library remember between runs about songs that gave no
// lyrics: instrumental pieces, pages that withhold their lyrics, and songs
// (or artists) not on the wiki, each with the date it was found out. A
// rerun skips them, so a library run a second time downloads nothing for
// them; --retry-missing (or --force) tries them again. batch also
// remembers which page each song of its list was saved from, so that a
// rerun (and a dry run) knows a saved song before any download; the output
// folder's index still decides whether that file is there.
//
// The memory is one small text file, ".versewell-remembered", in the folder
// the run writes into: batch's --out folder, or the library's root folder.
// One line per song, UTF-8, LF:
//   KIND TAB DATE TAB ARTIST TAB TITLE
//   saved TAB DATE TAB ARTIST TAB TITLE TAB ADDRESS TAB PAGE ARTIST TAB PAGE TITLE
// KIND is "instrumental", "withheld" or "missing"; DATE is YYYY-MM-DD
// (UTC); ARTIST and TITLE are the query as the tags or the song list give
// it; ADDRESS, PAGE ARTIST and PAGE TITLE name the song page a "saved"
// song was written from, as the wiki names it. Every field has "%", tab,
// CR and LF escaped as %25, %09, %0D, %0A. Lines that do not parse are
// dropped on the next save. Songs are matched by artist and title with
// case folded and blanks trimmed.
//
// Ownership: the object owns its entries. Failure: Load and Save return
// false with a message naming the file; a missing file is an empty memory.
// Threads: Find, Record and Forget may be called from any thread (one
// mutex); Load and Save from one thread while no other call runs.
#ifndef VERSEWELL_CLI_RUN_MEMORY_H
#define VERSEWELL_CLI_RUN_MEMORY_H

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace cli {

constexpr const char* MEMORY_FILE_NAME = ".versewell-remembered";

class CRunMemory {
 public:
  enum class EKind { Instrumental, Withheld, Missing, Saved };
  struct SEntry {
    EKind eKind = EKind::Missing;
    std::string strDate;
    std::string strArtist, strTitle;
    // Saved only: the song page and the wiki's names for it.
    std::string strAddress, strPageArtist, strPageTitle;
  };

  // `folder` empty: a memory that is never loaded or saved.
  explicit CRunMemory(std::string folder);

  bool Load(std::string& error);
  bool Save(std::string& error);
  bool Active() const { return !m_strFolder.empty(); }
  const std::string& Path() const { return m_strPath; }

  std::optional<SEntry> Find(const std::string& artist, const std::string& title) const;
  void Record(EKind kind, const std::string& artist, const std::string& title);
  // A song of the list saved from the page at `entry.strAddress`.
  void RecordSaved(SEntry entry);
  void Forget(const std::string& artist, const std::string& title);

  static const char* KindName(EKind kind);
  // Today's date, YYYY-MM-DD, UTC. Not for two threads at once.
  static std::string Today();

 private:
  static std::string Key(const std::string& artist, const std::string& title);

  std::string m_strFolder;
  std::string m_strPath;
  mutable std::mutex m_mutex;
  std::map<std::string, SEntry> m_mapEntries;  // by Key
  bool m_bChanged = false;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_RUN_MEMORY_H

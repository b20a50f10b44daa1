// The folder fetch-all (and any other command that saves songs) writes into,
// with its index of which page address each file was written for.
//
// Prepare creates the folder, takes the run's lock on it (a second run
// waits up to FOLDER_LOCK_WAIT_MS, then is told another run holds the
// folder), writes and removes a small test file before anything is fetched,
// so a folder that cannot be written is reported at once, removes stale
// temporary files of this program, and reads the index ".versewell-index"
// (one line per saved file: the path below the folder, a tab, the page
// address; "%", tab, CR and LF escaped as %25, %09, %0D, %0A; later lines
// win; a last line without its line feed is a write cut short and does not
// count). The index is never followed through a link nor read from a FIFO.
//
// Claim picks the file for one page: the template's path, or, when that
// path is taken in this run by another page, holds a file the index records
// for another page, or holds a file the index knows nothing about, the path
// with " (2)", " (3)" ... before the extension. A file the index knows
// nothing about whose content is exactly what is about to be saved (given
// as `content`) is an orphan of a run that stopped before its index line
// landed: it is adopted, not numbered around. Files the index does not
// record for the same address are never overwritten. A placement whose
// file exists and was written for the same address comes back as saved, so
// a second run skips it. Names are compared as a case-insensitive file
// system sees them.
//
// Save writes through a temporary file beside the destination and a rename
// (cli/output/SafeFile.h), so the destination is either absent or complete,
// then records the index line. The index is rewritten whole through a
// temporary file and a rename, never appended to: after each save while it
// is small, then at least every 1/32 of its length, and at Finish; a file
// whose line did not land is adopted by the next run. Every message names the destination and the system's reason;
// temporary names never appear in messages, and a failed save leaves no
// temporary file behind.
//
// Ownership: the object owns its index; it borrows nothing.
// Failure: results plus one-line messages; nothing throws except
// std::bad_alloc.
// Threads: after Prepare, Claim and Save may be called from any number of
// threads at once; one mutex guards the index and the claims, and file
// contents are written outside it.
#ifndef VERSEWELL_CLI_OUTPUT_FOLDER_H
#define VERSEWELL_CLI_OUTPUT_FOLDER_H

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/output/SafeFile.h"

namespace cli {

constexpr const char* INDEX_FILE_NAME = ".versewell-index";
constexpr int FOLDER_LOCK_WAIT_MS = 3000;

class COutputFolder {
 public:
  struct SPlacement {
    std::string strRelative;  // below the folder, "/" between components
    std::string strPath;      // the folder joined with strRelative
    bool bSaved = false;      // the file exists and was written for this address
  };

  explicit COutputFolder(std::string root);
  ~COutputFolder();
  COutputFolder(const COutputFolder&) = delete;
  COutputFolder& operator=(const COutputFolder&) = delete;

  bool Prepare(std::string& error);
  // For a dry run: reads the index of a folder that exists, and nothing
  // more (no folder made, no lock, no test file). Claim then answers as
  // after Prepare; Save must not be called.
  bool Inspect(std::string& error);

  // The longest path component Expand may produce here: the file system's
  // limit (temporary names have a fixed short length of their own).
  size_t MaxComponentBytes() const { return m_nMaxComponentBytes; }
  const std::string& Root() const { return m_strRoot; }
  // After a failed Prepare: true when another run holds the folder.
  bool Busy() const { return m_bBusy; }

  SPlacement Claim(const std::string& address, const std::string& relative, const std::string* content = nullptr);
  bool Save(const SPlacement& placement, const std::string& address, const std::string& content,
            std::string& error);
  // Writes what the index still owes; false with `error` when it cannot.
  bool Finish(std::string& error);
  // Stale temporary files Prepare and Save removed.
  SReclaimed Reclaimed();

 private:
  bool LoadIndex(std::string& error);
  bool WriteIndexLocked(std::string& error);
  void CleanFolderLocked(const std::string& folder);
  std::string Join(const std::string& relative) const;

  const std::string m_strRoot;
  size_t m_nMaxComponentBytes = 0;
  std::mutex m_mutex;
  std::map<std::string, std::string> m_mapIndexOwner;  // folded path -> address the index records
  std::map<std::string, std::string> m_mapClaimed;     // folded path -> address claimed in this run
  std::vector<std::string> m_vecOtherLines;  // index lines kept as they are (comments)
  std::vector<std::pair<std::string, std::string>> m_vecIndexLines;  // (relative, address), file order
  std::map<std::string, size_t> m_mapLineOf;  // folded path -> its entry in m_vecIndexLines
  size_t m_nUnwritten = 0;  // index lines recorded since the index was last written
  std::set<std::string> m_setCleaned;  // folders whose stale temporaries are gone
  SReclaimed m_reclaimed;
  safesys::Handle m_hLock = safesys::NO_HANDLE;
  bool m_bBusy = false;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_OUTPUT_FOLDER_H

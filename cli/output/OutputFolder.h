// The folder fetch-all (and any other command that saves songs) writes into,
// with its index of which page address each file was written for.
//
// Prepare creates the folder and writes and removes a small test file before
// anything is fetched, so a folder that cannot be written is reported at
// once, and reads the index ".versewell-index" (one line per saved file:
// the path below the folder, a tab, the page address; "%", tab, CR and LF
// escaped as %25, %09, %0D, %0A; later lines win).
//
// Claim picks the file for one page: the template's path, or, when that
// path is taken in this run by another page, holds a file the index records
// for another page, or holds a file the index knows nothing about, the path
// with " (2)", " (3)" ... before the extension. Files the index does not
// record for the same address are never overwritten. A placement whose
// file exists and was written for the same address comes back as saved, so
// a second run skips it. Names are compared as a case-insensitive file
// system sees them.
//
// Save writes through a temporary file beside the destination and a rename,
// so the destination is either absent or complete, then appends the index
// line. Every message names the destination and the system's reason;
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

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace cli {

constexpr const char* INDEX_FILE_NAME = ".versewell-index";

class COutputFolder {
 public:
  struct SPlacement {
    std::string strRelative;  // below the folder, "/" between components
    std::string strPath;      // the folder joined with strRelative
    bool bSaved = false;      // the file exists and was written for this address
  };

  explicit COutputFolder(std::string root);
  COutputFolder(const COutputFolder&) = delete;
  COutputFolder& operator=(const COutputFolder&) = delete;

  bool Prepare(std::string& error);

  // The longest path component Expand may produce here: the file system's
  // limit less room for the temporary name.
  size_t MaxComponentBytes() const { return m_nMaxComponentBytes; }
  const std::string& Root() const { return m_strRoot; }

  SPlacement Claim(const std::string& address, const std::string& relative);
  bool Save(const SPlacement& placement, const std::string& address, const std::string& content,
            std::string& error);

 private:
  bool LoadIndex(std::string& error);
  std::string Join(const std::string& relative) const;

  const std::string m_strRoot;
  size_t m_nMaxComponentBytes = 0;
  std::mutex m_mutex;
  std::map<std::string, std::string> m_mapIndexOwner;  // folded path -> address the index records
  std::map<std::string, std::string> m_mapClaimed;     // folded path -> address claimed in this run
  std::atomic<unsigned> m_nTempCounter{0};
};

}  // namespace cli

#endif  // VERSEWELL_CLI_OUTPUT_FOLDER_H

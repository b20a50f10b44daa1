// The CLI's file-safety layer: every file the program writes goes through
// here. A new file is created under a name nobody can predict or plant
// (".vw-" + eight random characters + ".tmp", always sixteen bytes, so any
// name the file system holds can still be written beside), with
// O_CREAT|O_EXCL|O_NOFOLLOW, in the destination's own folder; every write and
// the flush are checked; the finished file is renamed over the destination
// and the rename made durable. Nothing at a name the program invents is ever
// followed or opened if it is not a regular file, and reading never waits on
// a FIFO or device.
//
// A temporary file stays locked (flock/LockFileEx) while its writer lives,
// so another run can tell a live one from a stale one: RemoveStaleTemporaries
// deletes only files of this naming pattern that are older than the run and
// not locked.
//
// Ownership: CNewFile owns its handle and its temporary name; a CNewFile
// destroyed before Commit removes its file. Failure: false with `error` set
// to "cannot write <destination>: <system's reason>"; temporary names never
// appear in messages. Threads: any thread; one CNewFile per thread at a time.
#ifndef VERSEWELL_CLI_OUTPUT_SAFE_FILE_H
#define VERSEWELL_CLI_OUTPUT_SAFE_FILE_H

#include <cstdint>
#include <string>

#include "cli/sys/SafeFileSystem.h"

namespace cli {

// The prefix of every name this program invents; folder walks skip them.
constexpr const char* TEMP_FILE_PREFIX = ".vw-";
constexpr const char* TEMP_FILE_SUFFIX = ".tmp";
constexpr const char* JOURNAL_FILE_SUFFIX = ".jnl";

// True for ".vw-XXXXXXXX.tmp" and ".vw-XXXXXXXX.jnl" names, and for the
// temporary names earlier versions used (".versewell-tmp-...").
bool IsOwnTemporaryName(const std::string& fileName);

// The folder part of a UTF-8 path ("." when it has none).
std::string FolderOf(const std::string& path);

class CNewFile {
 public:
  CNewFile() = default;
  ~CNewFile();
  CNewFile(const CNewFile&) = delete;
  CNewFile& operator=(const CNewFile&) = delete;

  // Creates and locks a fresh file with `suffix` (TEMP_FILE_SUFFIX or
  // JOURNAL_FILE_SUFFIX) in `folder`; `destination` only names the file in
  // messages.
  bool Create(const std::string& folder, const std::string& destination, std::string& error,
              const char* suffix = TEMP_FILE_SUFFIX);
  bool Write(const char* data, size_t size, std::string& error);
  bool Write(const std::string& text, std::string& error) { return Write(text.data(), text.size(), error); }
  // Flushes to the device and renames over `destination`, durably.
  bool Commit(const std::string& destination, std::string& error);
  // Removes the file now (also what the destructor does before Commit).
  void Discard();
  // Closes the file and leaves it where it is (a journal still needed).
  void Keep();

  safesys::Handle Handle() const { return m_hFile; }
  const std::string& Path() const { return m_strPath; }

 private:
  std::string Failure(int code) const;

  safesys::Handle m_hFile = safesys::NO_HANDLE;
  std::string m_strPath;
  std::string m_strDestination;
};

// Writes `content` to `destination` through a CNewFile.
bool WriteFileSafely(const std::string& destination, const std::string& content, std::string& error);

// Tells whether `folder` takes new files: creates and removes one. False
// with `error` = the system's reason.
bool FolderTakesFiles(const std::string& folder, std::string& error);

// Reads a whole regular file, refusing FIFOs, devices and folders without
// waiting on them (and links, unless `followLinks`); at most `limit` bytes
// (more is an error). False with `error` set to the system's error number.
bool ReadRegularFile(const std::string& path, std::string& content, int& error, uint64_t limit,
                     bool followLinks = false);

// When this run started, on the file clock, less a margin for coarse file
// times; fixed at the first call (made early in main).
int64_t RunStartTime();

struct SReclaimed {
  size_t nFiles = 0;
  uint64_t nBytes = 0;
};

// Deletes this program's temporary files in `folder` (not below it) that
// were last changed before the run started and that no live process holds
// locked; adds what it removed to `reclaimed`. Journals are not touched
// here (RecoverJournals replays them).
void RemoveStaleTemporaries(const std::string& folder, SReclaimed& reclaimed);

// "reclaimed N bytes in M stale temporary files"; empty when none.
std::string DescribeReclaimed(const SReclaimed& reclaimed);

}  // namespace cli

#endif  // VERSEWELL_CLI_OUTPUT_SAFE_FILE_H

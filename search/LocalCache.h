// CLocalCache: the artist address cache of one plug-in object.
//
// One INI file per leading character of the artist name ("%c.ARTISTCACHE",
// '#' for digits) under <cache folder>/<source name>/<source id>/; one
// section per artist name with the key "ArtistUrl". Exact section lookup is
// case-insensitive; names not found literally are matched with the artist
// name distance under the host's threshold.
//
// The directory levels are created before m_cs is taken; a level that
// another process creates at the same moment counts as created. An address
// longer than the usual 500-character buffer is read again with a larger
// one rather than returned cut. The fuzzy search walks the section name
// list in place and stops scoring a name as soon as it cannot beat the
// best so far; the choice is the same as scoring every name in full.
//
// Batches: the index lookup writes every title of a page. Instead of one
// locked append per title it queues them (QueueArtistUrl) and writes the
// queue with FlushArtistUrls: per cache file one batch write, which the INI
// layer appends under one lock. The outcome equals the one-by-one writes
// in queue order; the per-title log lines are the same, the "fails" lines
// of a batch coming at the flush, in queue order. The directory levels are
// checked once per queue rather than per title. A queue that grows past a
// bound is flushed by itself, so a page cannot make it hold more than
// that. The destructor flushes what is left.
//
// Ownership: created by the property "LocalCacheFolder" and owned by the
//   plug-in object, which destroys it with itself.
// Failure: reads and writes return false and log (never while m_cs is held);
//   construction raises std::bad_alloc when the lock cannot be created.
// Threads: any thread; m_cs serialises the profile calls of one operation.
//   Several caches, in one process or several, may share a folder: the INI
//   layer locks each file around every read-modify-write.
#ifndef VERSEWELL_SEARCH_LOCAL_CACHE_H
#define VERSEWELL_SEARCH_LOCAL_CACHE_H

#include <atomic>
#include <functional>
#include <mutex>
#include <list>
#include <string>
#include <vector>

#include <versewell/cstring.h>

#include "platform/Sync.h"

// Produces the leading character of `name` for file and index naming: an
// ASCII letter upper-cased (or lower-cased with `lowerCase`), a digit as
// `digitReplacement` (or itself when that is 0). False, with `c` = 0, for a
// null or empty name and for any other first character.
bool GetLeadingChar(const wchar_t* name, wchar_t& c, wchar_t digitReplacement, bool lowerCase);

class CLocalCache {
 public:
  CLocalCache(const CString& cacheFolder, const CString& sourceName, const CString& sourceId);
  // The source id asked of `sourceId` only when a file name first needs it
  // (once, whichever thread comes first): the plug-in's id is the digest of
  // its module file, and a run that never touches the cache need not pay it.
  CLocalCache(const CString& cacheFolder, const CString& sourceName, std::function<CString()> sourceId);
  ~CLocalCache();
  CLocalCache(const CLocalCache&) = delete;
  CLocalCache& operator=(const CLocalCache&) = delete;

  // Path of the artist's cache file, creating the two directory levels
  // under the cache folder. False (and a log line) when it cannot.
  bool GetCacheFileName(const CString& artist, CString& path);
  // Direct hit, else the closest section strictly below `threshold`.
  bool ReadArtistUrl(const CString& artist, CString& url, float threshold);
  bool WriteArtistUrl(const CString& artist, const CString& url);
  // Queues the write of WriteArtistUrl; false (and the same log line as
  // WriteArtistUrl) when the name has no cache file.
  bool QueueArtistUrl(const CString& artist, const CString& url);
  // Writes the queued entries; false when any of them failed (each failure
  // logged as by WriteArtistUrl).
  bool FlushArtistUrls();
  // Every section name of `path`, in file order.
  void ReadSectionNames(const CString& path, std::list<std::wstring>& names);

 private:
  // The section names of `path` as a list of 0-terminated names in
  // m_sectionNames; returns the characters used. Caller holds m_cs.
  size_t ReadSectionNameList(const CString& path, DWORD firstCapacity);
  // GetCacheFileName that, with `trustDirectories`, skips the directory
  // checks once they have succeeded for the current queue.
  bool CacheFileName(const CString& artist, CString& path, bool trustDirectories);

  struct CQueuedWrite {
    size_t file;  // into m_queueFiles
    std::wstring artist;
    std::wstring url;
  };

  CString m_strCacheFolder;
  CString m_strSourceName;
  // The source id's folder name; see SourceId().
  const CString& SourceId();
  CString m_strSourceId;
  std::function<CString()> m_fnSourceId;
  std::once_flag m_sourceIdOnce;
  CCriticalSection m_cs;
  // Guarded by m_cs: the section name buffer, kept between searches, and
  // the capacity that held the last list.
  std::vector<wchar_t> m_sectionNames;
  DWORD m_nSectionNamesCapacity = 0;
  // Guarded by m_cs: the queued writes, the distinct files they go to, and
  // the characters they hold.
  std::vector<CQueuedWrite> m_queue;
  std::vector<std::wstring> m_queueFiles;
  size_t m_nQueuedChars = 0;
  // True once the directory levels exist for the current queue (read and
  // set outside m_cs, by the one thread that drives the lookup).
  std::atomic<bool> m_bQueueDirectoriesReady{false};
};

#endif  // VERSEWELL_SEARCH_LOCAL_CACHE_H

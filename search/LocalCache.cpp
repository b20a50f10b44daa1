#include "search/LocalCache.h"

#include <new>
#include <vector>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/PrivateProfile.h"
#include "search/ArtistNameMatcher.h"

namespace {

const wchar_t* const ARTIST_URL_KEY = L"ArtistUrl";
const wchar_t DIGIT_FILE_CHAR = L'#';
const DWORD URL_CAPACITY = 500;
const DWORD SECTION_NAMES_CAPACITY = 4096;
// Past this the list cannot be held; the names read so far are used.
const DWORD SECTION_NAMES_CAPACITY_LIMIT = 1u << 30;
// A queue holding this many characters of names and addresses is written
// at once: enough to spread the cost of a locked file write over thousands
// of titles, small beside the page they come from.
const size_t QUEUE_FLUSH_CHARS = 1u << 20;
const wchar_t WRITE_FAILS[] = L"WriteArtistUrl to LocalCache fails for: ";

// Makes sure the directory `path` exists. On failure `error` receives the
// code of the failed creation. A directory that another thread or process
// created between the test and the creation (ERROR_ALREADY_EXISTS) counts as
// existing.
bool EnsureDirectory(const CString& path, DWORD& error) {
  if (platform::PathFileExists(path.Str())) return true;
  if (platform::CreateDirectory(path.Str())) return true;
  error = platform::GetLastError();
  if (error == platform::ERROR_ALREADY_EXISTS) return true;
  return false;
}

// Reads the address of `section` into `url`. The value is read with the
// usual capacity of 500 characters; a value that fills it may have been
// cut, so it is read again with room to spare rather than returned cut.
DWORD ReadUrl(const CString& file, const wchar_t* section, CString& url) {
  DWORD capacity = URL_CAPACITY;
  for (;;) {
    std::vector<wchar_t> buffer(capacity, L'\0');
    DWORD length = platform::GetPrivateProfileString(section, ARTIST_URL_KEY, L"", buffer.data(), capacity,
                                                     file.GetString());
    if (length + 1 < capacity || capacity >= SECTION_NAMES_CAPACITY_LIMIT) {
      url = CString(buffer.data(), static_cast<int>(length));
      return length;
    }
    capacity *= 2;
  }
}

}  // namespace

CLocalCache::CLocalCache(const CString& cacheFolder, const CString& sourceName, const CString& sourceId)
    : m_strCacheFolder(AppendBackslash(cacheFolder)), m_strSourceName(sourceName), m_strSourceId(sourceId) {}

CLocalCache::CLocalCache(const CString& cacheFolder, const CString& sourceName, std::function<CString()> sourceId)
    : m_strCacheFolder(AppendBackslash(cacheFolder)), m_strSourceName(sourceName), m_fnSourceId(std::move(sourceId)) {}

const CString& CLocalCache::SourceId() {
  std::call_once(m_sourceIdOnce, [this] {
    if (m_fnSourceId) m_strSourceId = m_fnSourceId();
  });
  return m_strSourceId;
}

CLocalCache::~CLocalCache() {
  try {
    FlushArtistUrls();
  } catch (const std::bad_alloc&) {
    // Out of memory while destroying: the queued titles are lost as they
    // would be in a crash; the files stay whole.
  }
}

bool CLocalCache::GetCacheFileName(const CString& artist, CString& path) {
  return CacheFileName(artist, path, false);
}

bool CLocalCache::CacheFileName(const CString& artist, CString& path, bool trustDirectories) {
  path = m_strCacheFolder + m_strSourceName + platform::PATH_SEPARATOR;
  if (trustDirectories && m_bQueueDirectoriesReady.load(std::memory_order_relaxed)) {
    path += SourceId() + platform::PATH_SEPARATOR;
  } else {
    DWORD error = platform::ERROR_SUCCESS;
    bool ok = EnsureDirectory(path, error);
    if (ok) {
      path += SourceId() + platform::PATH_SEPARATOR;
      ok = EnsureDirectory(path, error);
    }
    if (!ok) {
      g_TraceLog.LogLastError(TRACE_ERROR,
                              (L"GetCacheFileName():Can not create directory: " + path + L", ").GetString(), error);
      return false;
    }
    if (trustDirectories) m_bQueueDirectoriesReady.store(true, std::memory_order_relaxed);
  }
  wchar_t leading = 0;
  if (!GetLeadingChar(artist.GetString(), leading, DIGIT_FILE_CHAR, false)) {
    g_TraceLog.Log(TRACE_INFO, (L"GetCacheFileName():GetLeadingChar fails: " + artist).GetString());
    return false;
  }
  CString fileName;
  fileName.Format(L"%c.ARTISTCACHE", leading);
  path += fileName;
  return true;
}

bool CLocalCache::ReadArtistUrl(const CString& artist, CString& url, float threshold) {
  CString path;
  if (!GetCacheFileName(artist, path)) return false;

  CSingleLock lock(m_cs);
  if (ReadUrl(path, artist.GetString(), url) != 0) return true;

  // The section names are walked in the buffer they arrive in; a fuzzy
  // search over a large file must not build a list node per name.
  const size_t used = ReadSectionNameList(path, m_nSectionNamesCapacity);
  CArtistNameMatcher matcher;
  float best = threshold;
  std::wstring chosen;
  bool found = false;
  const wchar_t* names = m_sectionNames.data();
  for (size_t pos = 0; pos < used && names[pos] != L'\0';) {
    size_t stop = pos;
    while (stop < used && names[stop] != L'\0') ++stop;
    // Only whether a name beats `best` matters, so the distance may stop
    // early once it cannot.
    const float distance = matcher.GetDistanceBelow(artist.GetString(), static_cast<size_t>(artist.GetLength()),
                                                    names + pos, stop - pos, best);
    if (distance < best) {
      best = distance;
      chosen.assign(names + pos, stop - pos);
      found = true;
      if (distance == 0.0f) break;
    }
    pos = stop + 1;
  }
  if (!found) return false;
  return ReadUrl(path, chosen.c_str(), url) != 0 && !url.IsEmpty();
}

bool CLocalCache::WriteArtistUrl(const CString& artist, const CString& url) {
  CString path;
  if (!GetCacheFileName(artist, path)) return false;

  bool written;
  {
    CSingleLock lock(m_cs);
    written = platform::WritePrivateProfileString(artist.GetString(), ARTIST_URL_KEY, url.GetString(),
                                                  path.GetString());
  }
  if (!written) {
    g_TraceLog.Log(TRACE_DEBUG, (WRITE_FAILS + artist).GetString());
    return false;
  }
  return true;
}

bool CLocalCache::QueueArtistUrl(const CString& artist, const CString& url) {
  CString path;
  if (!CacheFileName(artist, path, true)) return false;
  bool full;
  {
    CSingleLock lock(m_cs);
    size_t file = 0;
    while (file < m_queueFiles.size() && m_queueFiles[file] != path.Str()) ++file;
    if (file == m_queueFiles.size()) m_queueFiles.push_back(path.Str());
    m_queue.push_back(CQueuedWrite{file, artist.Str(), url.Str()});
    m_nQueuedChars += artist.Str().size() + url.Str().size();
    full = m_nQueuedChars >= QUEUE_FLUSH_CHARS;
  }
  if (full) FlushArtistUrls();
  return true;
}

bool CLocalCache::FlushArtistUrls() {
  std::vector<CQueuedWrite> queue;
  std::vector<bool> written;
  {
    CSingleLock lock(m_cs);
    m_bQueueDirectoriesReady.store(false, std::memory_order_relaxed);
    if (m_queue.empty()) return true;
    queue.swap(m_queue);
    std::vector<std::wstring> files;
    files.swap(m_queueFiles);
    m_nQueuedChars = 0;
    // One batch per file, each in queue order; a file holds at most a few
    // dozen distinct ones, so the entries are gathered per file.
    written.assign(queue.size(), false);
    std::vector<platform::CProfileWrite> batch;
    std::vector<size_t> origin;
    for (size_t file = 0; file < files.size(); ++file) {
      batch.clear();
      origin.clear();
      for (size_t i = 0; i < queue.size(); ++i) {
        if (queue[i].file != file) continue;
        platform::CProfileWrite w;
        w.section = queue[i].artist.c_str();
        w.key = ARTIST_URL_KEY;
        w.value = queue[i].url.c_str();
        batch.push_back(w);
        origin.push_back(i);
      }
      platform::WritePrivateProfileStrings(batch.data(), batch.size(), files[file].c_str());
      for (size_t k = 0; k < batch.size(); ++k) written[origin[k]] = batch[k].written;
    }
  }
  bool all = true;
  for (size_t i = 0; i < queue.size(); ++i) {
    if (written[i]) continue;
    all = false;
    g_TraceLog.Log(TRACE_DEBUG, (WRITE_FAILS + CString(queue[i].artist)).GetString());
  }
  return all;
}

size_t CLocalCache::ReadSectionNameList(const CString& path, DWORD firstCapacity) {
  DWORD capacity = firstCapacity > SECTION_NAMES_CAPACITY ? firstCapacity : SECTION_NAMES_CAPACITY;
  if (m_sectionNames.size() < capacity) m_sectionNames.resize(capacity);
  DWORD count = platform::GetPrivateProfileSectionNames(m_sectionNames.data(), capacity, path.GetString());
  // A count of capacity - 2 means the list was cut: double and ask again.
  while (count == capacity - 2 && capacity < SECTION_NAMES_CAPACITY_LIMIT) {
    capacity *= 2;
    if (m_sectionNames.size() < capacity) m_sectionNames.resize(capacity);
    count = platform::GetPrivateProfileSectionNames(m_sectionNames.data(), capacity, path.GetString());
  }
  m_nSectionNamesCapacity = capacity;
  return count < capacity ? count : capacity;
}

void CLocalCache::ReadSectionNames(const CString& path, std::list<std::wstring>& names) {
  CSingleLock lock(m_cs);
  const size_t used = ReadSectionNameList(path, SECTION_NAMES_CAPACITY);
  names.clear();
  const wchar_t* list = m_sectionNames.data();
  size_t pos = 0;
  while (pos < used && list[pos] != L'\0') {
    size_t stop = pos;
    while (stop < used && list[stop] != L'\0') ++stop;
    names.emplace_back(list + pos, stop - pos);
    pos = stop + 1;
  }
}

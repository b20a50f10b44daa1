#include "search/LocalCache.h"

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

CLocalCache::~CLocalCache() = default;

bool CLocalCache::GetCacheFileName(const CString& artist, CString& path) {
  DWORD error = platform::ERROR_SUCCESS;
  path = m_strCacheFolder + m_strSourceName + platform::PATH_SEPARATOR;
  bool ok = EnsureDirectory(path, error);
  if (ok) {
    path += m_strSourceId + platform::PATH_SEPARATOR;
    ok = EnsureDirectory(path, error);
  }
  if (!ok) {
    g_TraceLog.LogLastError(TRACE_ERROR, (L"GetCacheFileName():Can not create directory: " + path + L", ").GetString(),
                            error);
    return false;
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
    g_TraceLog.Log(TRACE_DEBUG, (L"WriteArtistUrl to LocalCache fails for: " + artist).GetString());
    return false;
  }
  return true;
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

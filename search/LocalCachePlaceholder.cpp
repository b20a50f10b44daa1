// PLACEHOLDER until the artist cache lands: the cache finds and keeps nothing.
#include "search/LocalCache.h"

CLocalCache::CLocalCache(const CString& folder, const CString& name, const CString& id)
    : m_strCacheFolder(folder), m_strSourceName(name), m_strSourceId(id) {}
CLocalCache::~CLocalCache() = default;
bool CLocalCache::GetCacheFileName(const CString&, CString&) { return false; }
bool CLocalCache::ReadArtistUrl(const CString&, CString&, float) { return false; }
bool CLocalCache::WriteArtistUrl(const CString&, const CString&) { return false; }
void CLocalCache::ReadSectionNames(const CString&, std::list<std::wstring>& names) { names.clear(); }
bool GetLeadingChar(const wchar_t*, wchar_t& c, wchar_t, bool) {
  c = 0;
  return false;
}

// Construction, destruction and the property and method protocol of the
// common plug-in machinery.
#include "plugin/CommonDllInterface.h"

#include "diag/ModuleFingerprint.h"
#include "diag/TraceLog.h"
#include "search/LocalCache.h"

namespace {

const wchar_t* const SET_PROPERTY_PREFIX = L"CCommonDllInterface::Set Property ";

}  // namespace

template <>
CCommonDllInterface<CLyricsDllInterface>::CCommonDllInterface()
    : m_pArtistCache(nullptr),
      m_bSourceIdMade(false),
      m_nCodePage(0),
      m_nSupportedSearch(0),
      m_nAlbumsIterationConstant(0),
      m_nTitlesIterationConstant(0),
      m_nDownloadCounter(0),
      m_nSuccessfulDownloads(0),
      m_nTotalDownloadTime(0) {}

template <>
const CString& CCommonDllInterface<CLyricsDllInterface>::SourceId() {
  if (!m_bSourceIdMade) {
    m_strSourceId = MakeModuleFingerprint();
    m_bSourceIdMade = true;
  }
  return m_strSourceId;
}

template <>
CCommonDllInterface<CLyricsDllInterface>::~CCommonDllInterface() {
  delete m_pArtistCache;
  m_pArtistCache = nullptr;
}

template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::SetProperty(const CString& name, const CString* value) {
  const CString prefix = SET_PROPERTY_PREFIX + name + L": ";
  if (value != nullptr) {
    if (name == L"LocalCacheFolder") {
      if (m_pArtistCache != nullptr) {
        g_TraceLog.Log(TRACE_INFO, (prefix + L"already ini.lized").GetString());
        return 0;
      }
      if (value->IsEmpty()) {
        g_TraceLog.Log(TRACE_WARNING, (prefix + L"Path not specified").GetString());
        return 0;
      }
      // Asked on the thread that uses the cache, which is this object's.
      m_pArtistCache = new CLocalCache(*value, m_strSourceName, [this] { return SourceId(); });
      g_TraceLog.Log(TRACE_DEBUG, (prefix + *value).GetString());
      return 1;
    }
    if (name == L"LogFolder") {
      g_TraceLog.Open(value->GetString(), m_strSourceName.GetString(), TRACE_ERROR);
      g_TraceLog.Log(TRACE_DEBUG, (prefix + *value).GetString());
      return 1;
    }
    if (name == L"TraceLevel") {
      g_TraceLog.SetLevelName(value->GetString());
      g_TraceLog.Log(TRACE_DEBUG, (prefix + *value).GetString());
      return 1;
    }
    if (name == L"ParentLogfilePath") {
      g_TraceLog.SetParentLogPath(*value);
      g_TraceLog.Log(TRACE_DEBUG, (prefix + *value).GetString());
      return 1;
    }
  }
  g_TraceLog.Log(TRACE_WARNING, (prefix + L" - Can not be set.").GetString());
  return 0;
}

template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::GetProperty(const CString& name, void* value) {
  if (value != nullptr) {
    if (name == L"SourceName") {
      *static_cast<CString*>(value) = m_strSourceName;
      return 1;
    }
    if (name == L"SourceId") {
      *static_cast<CString*>(value) = SourceId();
      return 1;
    }
    if (name == L"StatisticDownloadCounter") {
      *static_cast<uint32_t*>(value) = m_nDownloadCounter;
      return 1;
    }
    if (name == L"StatisticSuccessfulDownloads") {
      *static_cast<uint32_t*>(value) = m_nSuccessfulDownloads;
      return 1;
    }
    if (name == L"StatisticTotalDownloadTime") {
      *static_cast<uint32_t*>(value) = m_nTotalDownloadTime;
      return 1;
    }
    if (name == L"SupportedSearch") {
      *static_cast<int32_t*>(value) = m_nSupportedSearch;
      return 1;
    }
    if (name == L"AlbumsItearationConstant") {
      *static_cast<int32_t*>(value) = m_nAlbumsIterationConstant;
      return 1;
    }
    if (name == L"TitlesItearationConstant") {
      *static_cast<int32_t*>(value) = m_nTitlesIterationConstant;
      return 1;
    }
  }
  g_TraceLog.Log(TRACE_ERROR, (L"CCommonDllInterface::Property not found: " + name).GetString());
  return 0;
}

template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::CallMethod(const CString& name, void* /*argument*/) {
  if (name == L"CloseAndMergeLog") {
    g_TraceLog.CloseAndMerge();
    return 1;
  }
  g_TraceLog.Log(TRACE_ERROR, (L"CCommonDllInterface::CallMethod - Method not found: " + name).GetString());
  return 0;
}

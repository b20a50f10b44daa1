// CCommonDllInterface<T>: the machinery every plug-in of this family shares,
// layered on the host interface T (CLyricsDllInterface): identity fields,
// download statistics, the property and method protocol, the download
// operation and forwarding to the host callback.
//
// Ownership: owns m_pArtistCache (deleted with the object); never owns the
//   host callback.
// Failure: operations return 0 and log; nothing is thrown to the host except
//   allocation failures.
// Threads: one host thread at a time per object; no lock of its own.
#ifndef VERSEWELL_PLUGIN_COMMON_DLL_INTERFACE_H
#define VERSEWELL_PLUGIN_COMMON_DLL_INTERFACE_H

#include <cstdint>

#include <versewell/plugin.h>

class CLocalCache;

template <typename TInterface>
class CCommonDllInterface : public TInterface {
 public:
  CCommonDllInterface();
  ~CCommonDllInterface() override;

  // Slots 1-3: the property and method protocol.
  BOOL SetProperty(const CString& name, const CString* value) override;
  BOOL GetProperty(const CString& name, void* value) override;
  BOOL CallMethod(const CString& name, void* argument) override;

  // Slot 9: forwards to the host's Notify when a host is registered.
  virtual void NotifyHost() {
    if (this->m_pHostCallback != nullptr) this->m_pHostCallback->Notify();
  }
  // Slot 10: true without a host; otherwise the host's answer.
  virtual bool IsStopRequested() {
    return this->m_pHostCallback == nullptr || this->m_pHostCallback->IsStopRequested();
  }
  // Slot 11: downloads `url` (site host + path) into `page`; 1 on success.
  virtual BOOL Download(const CString& url, CString& page);

 protected:
  // The source id, the fingerprint of the module file, made when first
  // asked for (the property, the cache's folder, a song list) rather than
  // with the object: a run that needs none of them never reads the module.
  const CString& SourceId();

  CLocalCache* m_pArtistCache;
  CString m_strSourceName;
  CString m_strVersion;
  CString m_strSiteHost;
  CString m_strSourceId;  // see SourceId()
  bool m_bSourceIdMade;
  int32_t m_nCodePage;
  int32_t m_nSupportedSearch;
  int32_t m_nAlbumsIterationConstant;
  int32_t m_nTitlesIterationConstant;
  uint32_t m_nDownloadCounter;
  uint32_t m_nSuccessfulDownloads;
  uint32_t m_nTotalDownloadTime;
};

// The one instantiation's members are defined out of line:
// plugin/CommonDllInterface.cpp (construction, properties) and
// plugin/Download.cpp (Download, on top of http/).
template <>
CCommonDllInterface<CLyricsDllInterface>::CCommonDllInterface();
template <>
CCommonDllInterface<CLyricsDllInterface>::~CCommonDllInterface();
template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::SetProperty(const CString& name, const CString* value);
template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::GetProperty(const CString& name, void* value);
template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::CallMethod(const CString& name, void* argument);
template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::Download(const CString& url, CString& page);

#endif  // VERSEWELL_PLUGIN_COMMON_DLL_INTERFACE_H

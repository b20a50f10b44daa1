// CCommonDllInterface::Download: the plug-in's one entry to the network.
// Asks the host for the proxy and the ignore list, counts and times the
// attempt, and runs HttpDownload with the object's code page.
#include "http/DownloadFrontEnd.h"
#include "platform/Clock.h"
#include "plugin/CommonDllInterface.h"

template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::Download(const CString& url, CString& page) {
  page.Empty();
  if (IsStopRequested()) return 0;

  CString proxy;
  if (m_pHostCallback != nullptr) m_pHostCallback->GetHostValue(L"HttpProxy", &proxy);
  ++m_nDownloadCounter;

  // The host's ignore object is used only when the host answered nonzero:
  // after a 0 answer whatever the host left in the pointer is never touched,
  // not even by the removal after the download.
  CHostIgnore* ignore = nullptr;
  if (m_pHostCallback != nullptr) {
    CHostIgnore* answered = nullptr;
    if (m_pHostCallback->GetHostValue(L"HostIgnore", &answered) != 0) ignore = answered;
  }
  if (ignore != nullptr && !IsStopRequested())
    ignore->AddIgnoredHost(UrlGetHost(UrlAddScheme(url, L"http")).GetString(), 1);

  const DWORD started = platform::GetTickCount();
  const int result = HttpDownload(url, page, proxy, static_cast<UINT>(m_nCodePage), CString(), CString());
  m_nTotalDownloadTime += platform::GetTickCount() - started;
  if (result != 0) ++m_nSuccessfulDownloads;

  if (ignore != nullptr && !IsStopRequested())
    ignore->RemoveIgnoredHost(UrlGetHost(UrlAddScheme(url, L"http")).GetString());
  return result;
}

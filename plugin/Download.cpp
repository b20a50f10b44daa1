// CCommonDllInterface::Download: the plug-in's one entry to the network.
// Asks the host for the proxy and the ignore list, counts and times the
// attempt, and runs HttpDownload with the object's code page.
//
// While HttpDownload runs, the transport asks the object's IsStopRequested
// on this thread whenever it waits on the network, so a host's stop ends a
// running download at once, in whatever phase it is. A stopped download is
// a failed one: counted and timed as an attempt, traced with the
// "Download fails: " line, and the ignore list is not told to remove.
#include "http/DownloadFrontEnd.h"
#include "platform/Clock.h"
#include "platform/HttpTransport.h"
#include "plugin/CommonDllInterface.h"

namespace {

bool AskObjectToStop(void* object) {
  return static_cast<CCommonDllInterface<CLyricsDllInterface>*>(object)->IsStopRequested();
}

}  // namespace

template <>
BOOL CCommonDllInterface<CLyricsDllInterface>::Download(const CString& url, CString& page) {
  page.Empty();
  if (IsStopRequested()) return 0;

  CString proxy;
  if (m_pHostCallback != nullptr) m_pHostCallback->GetHostValue(L"HttpProxy", &proxy);
  ++m_nDownloadCounter;

  // The host's ignore object counts only when the host answered nonzero: a
  // pointer written alongside a 0 answer is not the host's to hand out, and
  // is used neither before nor after the download.
  CHostIgnore* ignore = nullptr;
  if (m_pHostCallback == nullptr || m_pHostCallback->GetHostValue(L"HostIgnore", &ignore) == 0) ignore = nullptr;
  if (ignore != nullptr && !IsStopRequested())
    ignore->AddIgnoredHost(UrlGetHost(UrlAddScheme(url, L"http")).GetString(), 1);

  const DWORD started = platform::GetTickCount();
  int result = 0;
  {
    platform::CScopedStopQuery stopQuery(&AskObjectToStop, this);
    result = HttpDownload(url, page, proxy, static_cast<UINT>(m_nCodePage), CString(), CString());
  }
  m_nTotalDownloadTime += platform::GetTickCount() - started;
  if (result != 0) ++m_nSuccessfulDownloads;

  if (ignore != nullptr && !IsStopRequested())
    ignore->RemoveIgnoredHost(UrlGetHost(UrlAddScheme(url, L"http")).GetString());
  return result;
}

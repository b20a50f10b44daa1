#include "http/DownloadFrontEnd.h"

#include <string>

#include "diag/TraceLog.h"
#include "http/HttpDownloader.h"
#include "http/UrlHost.h"
#include "platform/Clock.h"
#include "platform/ErrorText.h"
#include "text/CodePageConversion.h"
#include "text/Utf8StreamDecoder.h"

namespace {

// FormatMessageW is given a buffer of this many characters; a text that
// does not fit (with its terminator) is no text at all.
constexpr size_t SYSTEM_TEXT_CAPACITY = 255;

thread_local unsigned int t_randomState = 1;

std::string Narrow(const CString& text) {
  CWideToAnsi narrow(text.GetString(), CP_THREAD_ACP);
  return narrow.Get() != nullptr ? std::string(narrow.Get()) : std::string();
}

const wchar_t* const BROWSERS[] = {L" MSIE 6.0;", L" MSIE 7.0;", L" MSIE 8.0;"};
const wchar_t* const SYSTEMS[] = {L" Windows NT 5.1", L" Windows NT 6.0", L" Windows NT 6.1"};
constexpr int OPTIONAL_TOKENS = 11;

std::wstring Number(int n) { return std::to_wstring(n); }

// A UTF-8 body decoded as it arrives, straight into the page's wide text.
class CUtf8BodyConsumer : public CBodyConsumer {
 public:
  void Begin(uint32_t contentLength) override { m_decoder.Reserve(contentLength); }
  void Append(const char* data, size_t size) override { m_decoder.Append(data, size); }
  std::wstring Finish() { return m_decoder.Finish(); }

 private:
  CUtf8StreamDecoder m_decoder;
};

}  // namespace

void SeedRandom(unsigned int seed) { t_randomState = seed; }

int DrawRandom() {
  t_randomState = t_randomState * 214013u + 2531011u;
  return static_cast<int>((t_randomState >> 16) & 0x7FFF);
}

int RandomNumber(int n) {
  SeedRandom(static_cast<unsigned int>(platform::QueryPerformanceCounter() & 0xFFFFFFFFu));
  int draw = DrawRandom();
  return n > 0 ? draw % n : draw;
}

CString MakeRandomUserAgent() {
  std::wstring agent = L"Mozilla/4.0 (compatible;";
  agent += BROWSERS[RandomNumber(3)];
  agent += SYSTEMS[RandomNumber(3)];
  if (RandomNumber(2) == 1) agent += L"; en-US";
  for (int token = RandomNumber(OPTIONAL_TOKENS); token < OPTIONAL_TOKENS; ++token) {
    if (RandomNumber(2) != 1) continue;
    switch (token) {
      case 0: agent += L"; Trident/4.0"; break;
      case 1: agent += L"; SV1"; break;
      case 2: {
        int a = DrawRandom() % 10;
        int b = DrawRandom() % 3;
        agent += L"; YPC 3." + Number(b) + L"." + Number(a);
        break;
      }
      case 3: {
        int a = DrawRandom() % 10;
        int b = DrawRandom() % 6;
        agent += L"; GTB" + Number(b) + L"." + Number(a);
        break;
      }
      case 4: agent += L"; .NET CLR 1.0." + Number(DrawRandom()); break;
      case 5: agent += L"; .NET CLR 1.1." + Number(DrawRandom()); break;
      case 6: agent += L"; .NET CLR 2.0." + Number(DrawRandom()); break;
      case 7:
      case 8: {
        int a = DrawRandom();
        int b = DrawRandom();
        agent += (token == 7 ? L"; .NET CLR 3.0." : L"; .NET CLR 3.5.") + Number(b) + L"." + Number(a);
        break;
      }
      case 9: agent += L"; yie8"; break;
      default: {
        int a = RandomNumber(30);
        int b = RandomNumber(3);
        agent += L"; yplus 5." + Number(b) + L"." + Number(a);
        break;
      }
    }
  }
  agent += L")";
  return CString(agent);
}

CString UrlAddScheme(const CString& url, const CString& scheme) {
  if (url.Find(L"://") < 0) return scheme + L"://" + url;
  return url;
}

CString UrlGetHost(const CString& url) {
  if (url.IsEmpty()) return CString();
  std::wstring host;
  DWORD error = 0;
  if (!CrackUrlHost(url.GetString(), host, error)) {
    platform::SetLastError(error);
    g_TraceLog.LogLastError(TRACE_ERROR, L"UrlGetHost: InternetCrackUrl ", platform::GetLastError());
    return CString();
  }
  return CString(host);
}

int HttpDownload(const CString& url, CString& body, const CString& proxy, UINT codePage, const CString& referrer,
                 CString userAgent) {
  body.Empty();
  CHttpDownloaderBase downloader(Narrow(proxy), std::wstring());
  downloader.m_strReferrer = Narrow(referrer);
  g_TraceLog.Log(TRACE_DEBUG, (L"Download: " + url).GetString());
  if (userAgent.IsEmpty()) userAgent = MakeRandomUserAgent();
  downloader.SetHeader("User-Agent", Narrow(userAgent));
  // UTF-8, the plug-in's code page, is decoded chunk by chunk as the body
  // arrives; other code pages need the whole body first.
  CUtf8BodyConsumer utf8;
  if (codePage == CP_UTF8) downloader.m_pBodyConsumer = &utf8;
  if (!downloader.Fetch(Narrow(url))) {
    std::wstring systemText = platform::FormatSystemMessage(downloader.m_nLastError, 0);
    if (systemText.size() >= SYSTEM_TEXT_CAPACITY) systemText.clear();
    CString line = L"Download fails: " + url + L", Proxy: " + proxy + L", Response: " +
                   CString(downloader.m_strStatusText) + L", Error:" + CString(systemText);
    g_TraceLog.Log(TRACE_WARNING, line.GetString());
    return 0;
  }
  if (codePage == CP_UTF8) {
    body = utf8.Finish();
  } else if (codePage != 0) {
    body = ConvertBytesToWide(downloader.m_strBody.c_str(), codePage);
  } else {
    CAnsiToWide wide(downloader.m_strBody.c_str(), CP_THREAD_ACP);
    body = wide.Get();
  }
  return 1;
}

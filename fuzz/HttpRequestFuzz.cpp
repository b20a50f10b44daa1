// URL splitting and request building on arbitrary text, observed at the
// transport (what would reach the wire).
//
// Input: fields separated by the byte 0xFF: URL, referrer, header name,
// header value, cookie, proxy; then, after a 0xFE byte, a URL for the whole
// plug-in path (GetLyrics through the download front end), two bytes per
// character. Property: no CR, LF or NUL ever reaches the host, the request
// object, the referrer, the agent or a header line (the proxy name is not
// sent); SplitUrl's
// host never holds the path's "/".
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "http/HttpDownloader.h"
#include "support/FakeAnsiCodePage.h"

namespace {

void CheckWire(const CFakeHttpTransport& t) {
  FuzzCheck(!HasLineBreakOrNul(t.host), "no line break in the host");
  FuzzCheck(!HasLineBreakOrNul(t.objectName), "no line break in the request object");
  FuzzCheck(!HasLineBreakOrNul(t.referrer), "no line break in the referrer");
  FuzzCheck(!HasLineBreakOrNul(t.agent), "no line break in the agent");
  for (const std::wstring& line : t.headerLines) FuzzCheck(!HasLineBreakOrNul(line), "no line break in a header");
}

std::vector<std::string> Fields(const std::string& text, char separator, size_t count) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() + 1 < count) {
    const size_t end = text.find(separator, start);
    if (end == std::string::npos) break;
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  fields.push_back(text.substr(start));
  fields.resize(count);
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CFakeHttpTransport* s_transport = new CFakeHttpTransport();
  static CFuzzPlugin s_fuzz(s_transport);
  // A code page that takes every byte, so that conversions do not end the
  // fetch before the request is built.
  static ScopedFakeAnsiCodePage* s_ansi = new ScopedFakeAnsiCodePage(28591, 28591);
  (void)s_ansi;

  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t plugin = input.find('\xFE');
  const std::vector<std::string> f = Fields(input.substr(0, plugin), '\xFF', 6);

  std::wstring host, path;
  uint16_t port = 0;
  std::wstring wideUrl(f[0].begin(), f[0].end());
  for (wchar_t& c : wideUrl) c = static_cast<wchar_t>(static_cast<unsigned char>(c));
  SplitUrl(wideUrl, host, path, port);
  FuzzCheck(host.find(L'/') == std::wstring::npos, "SplitUrl: no '/' in the host");

  *s_transport = CFakeHttpTransport();
  try {
    CHttpDownloaderBase downloader(f[5], L"");
    downloader.m_strReferrer = f[1];
    downloader.SetHeader(f[2], f[3]);
    downloader.SetHeader("Cookie", f[4]);
    downloader.SetHeader("User-Agent", f[3]);
    downloader.Fetch(f[0]);
  } catch (const std::exception&) {
    // Conversion failures are raised to the caller by contract.
  }
  CheckWire(*s_transport);

  if (plugin != std::string::npos) {
    *s_transport = CFakeHttpTransport();
    s_transport->response.chunks.assign(1, "<div class='lyricbox'></div>x<!--");
    const std::wstring url = BytesToWide16(data + plugin + 1, size - plugin - 1);
    CString lyrics;
    s_fuzz.pPlugin->GetLyrics(CString(url.c_str()), lyrics);
    CheckWire(*s_transport);
  }
  return 0;
}

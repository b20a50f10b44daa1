// CHttpDownloaderBase: one HTTP GET of an absolute URL through the WinHTTP
// seam (platform/HttpTransport.h), with the request and response header
// stores, a single cookie value, an optional output file, a progress sink
// and a stop flag.
//
// Usage: construct with the proxy ("" = the system setting) and an output
// file ("" = memory only), set m_strReferrer and headers, call Fetch once,
// read m_strBody, m_nStatusCode, m_strStatusText and m_nLastError, destroy.
// Ownership: the object owns its session (closed by the destructor) and,
// during Fetch, its connection and request; it does not own the progress
// sink.
// Failure: every step returns false and Fetch stops at the first; the
// platform error code of the failing step is left in m_nLastError as the
// table of rules in the .cpp says, with a trace line where one is due. The
// body is held only when it arrived whole; a body above HTTP_MAX_BODY_SIZE
// fails the fetch and is not kept. Conversion exceptions (CAnsiToWide,
// CWideToAnsi) pass to the caller; nothing else is thrown.
// Threads: an object belongs to the thread that created it; the fetch
// blocks that thread. No shared state.
// The body's bytes travel from the transport to m_strBody (or the body
// consumer) once: the transport passes each chunk straight on
// (platform::ReadHttpBody) and the downloader applies the size limit, the
// output file, the progress sink and the stop flag chunk by chunk. An
// exception from the progress sink, or std::bad_alloc while the body
// grows, ends the transfer and then passes to the caller, as it always did.
#ifndef VERSEWELL_HTTP_HTTP_DOWNLOADER_H
#define VERSEWELL_HTTP_HTTP_DOWNLOADER_H

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "platform/HttpTransport.h"
#include "platform/Types.h"

// Told after every chunk of the body. The downloader never deletes a sink.
class CDownloadProgressSink {
 public:
  virtual void OnProgress(uint32_t bytesReceived, uint32_t contentLength) = 0;

 protected:
  ~CDownloadProgressSink() = default;
};

// Takes the body in place of m_strBody (CHttpDownloaderBase::m_pBodyConsumer),
// chunk by chunk as the transport hands it on. Called on the fetching
// thread, possibly from inside the transport's own callback: neither call
// may throw or call the transport. A failed fetch leaves the consumer with
// part of the body; the caller discards it. Never deleted by the downloader.
class CBodyConsumer {
 public:
  // Once, before the first chunk: the announced length (0: not announced).
  virtual void Begin(uint32_t contentLength) = 0;
  virtual void Append(const char* data, size_t size) = 0;

 protected:
  ~CBodyConsumer() = default;
};

// The agent given to every session; a "User-Agent" request header replaces
// it on the request.
extern const wchar_t g_szDefaultUserAgent[];

// The largest body a fetch accepts (8 MiB): a wiki page is far smaller, and
// a hostile server must not be able to exhaust the host's memory.
constexpr uint32_t HTTP_MAX_BODY_SIZE = 8u * 1024u * 1024u;

class CHttpDownloaderBase {
 public:
  CHttpDownloaderBase(const std::string& proxy, const std::wstring& outputFile);
  virtual ~CHttpDownloaderBase();
  CHttpDownloaderBase(const CHttpDownloaderBase&) = delete;
  CHttpDownloaderBase& operator=(const CHttpDownloaderBase&) = delete;

  // "cookie" (any case, surrounding blanks) sets m_strCookie; any other
  // name goes into the request header store exactly as passed.
  virtual void SetHeader(const std::string& name, const std::string& value);
  // The whole GET; true only when every step succeeded.
  bool Fetch(const std::string& url);

  bool OpenRequest(const std::wstring& verb);
  bool PrepareRequest(uint32_t disableFeatureMask);
  bool SendRequest(const std::string& body);
  bool ReceiveResponse(bool acceptAnyStatus);
  bool ParseResponseHeaders();
  virtual bool DownloadData();
  void CloseRequest();

  platform::HINTERNET m_hSession;
  platform::HINTERNET m_hConnect;
  platform::HINTERNET m_hRequest;
  std::string m_strUrl;
  std::string m_strReferrer;
  std::string m_strCookie;
  uint32_t m_nContentLength;
  std::string m_strBody;
  uint32_t m_nBytesReceived;
  std::map<std::string, std::string> m_requestHeaders;
  std::map<std::string, std::list<std::string>> m_responseHeaders;
  std::wstring m_strOutputFile;
  uint32_t m_nTimeout;
  CDownloadProgressSink* m_pProgressSink;
  CBodyConsumer* m_pBodyConsumer;  // null: the body goes to m_strBody
  bool m_bStop;
  uint32_t m_nStatusCode;
  std::wstring m_strStatusText;
  uint32_t m_nLastError;
};

// Splits a wide URL into host, path (without its leading slash) and port.
// The scheme is not examined; no port, or one outside 0-65535, gives 80.
void SplitUrl(const std::wstring& url, std::wstring& host, std::wstring& path, uint16_t& port);

// A numeric header query; 0 when the query fails.
uint32_t QueryHeaderNumber(platform::HINTERNET request, DWORD infoLevel);
// A text header query; empty when either query fails.
std::wstring QueryHeaderString(platform::HINTERNET request, DWORD infoLevel);

#endif  // VERSEWELL_HTTP_HTTP_DOWNLOADER_H

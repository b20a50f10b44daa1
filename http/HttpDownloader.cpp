// CHttpDownloaderBase: the steps of one GET.
//
// m_nLastError rules, step by step (TW = trace at TRACE_WARNING):
//   empty host after splitting ................ unchanged, no trace
//   connect / open request fails .............. the call's code, no trace
//   handle missing, header line or feature
//   option fails in PrepareRequest ............ unchanged, no trace
//   send fails ................................ the call's code, TW
//   receive fails or raises ................... the call's code, no trace
//   status outside 200-299 .................... unchanged, no trace
//   raw header queries ........................ the code after the call
//                                               (122 on the normal path)
//   output file cannot be opened .............. unchanged, no trace
//   data-available query fails ................ the call's code, TW
//   chunk buffer, short read, file write ...... unchanged, TW
//   stop flag ................................. unchanged, no trace
//   a stop query that ends a waiting call ..... that call's code (12017)
// The session: a failed WinHttpOpen (a proxy text the transport refuses)
// writes a TW line naming the proxy, then fails the fetch at connect.
// Added to keep hostile input out (each with a TW line):
//   a CR, LF or NUL in the URL or referrer
//   (inside, not trimmed away) ................ ERROR_WINHTTP_INVALID_URL
//   a CR, LF or NUL in a header name or value
//   or in the cookie .......................... unchanged (a header failure)
//   a body above HTTP_MAX_BODY_SIZE ........... unchanged
#include "http/HttpDownloader.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "diag/TraceLog.h"
#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "text/CodePageConversion.h"

using namespace platform;

const wchar_t g_szDefaultUserAgent[] =
    L"Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; .NET CLR 1.1.4322; .NET CLR 2.0.50727; .NET CLR "
    L"3.0.04506.30; .NET CLR 3.0.04506.648)";

namespace {

const char* const WHITE_SPACE_A = " \t\r\n\v\f";
const wchar_t* const WHITE_SPACE_W = L" \t\r\n\v\f";

std::wstring TrimW(const std::wstring& s) {
  size_t b = s.find_first_not_of(WHITE_SPACE_W);
  if (b == std::wstring::npos) return std::wstring();
  return s.substr(b, s.find_last_not_of(WHITE_SPACE_W) - b + 1);
}

std::string TrimA(const std::string& s) {
  size_t b = s.find_first_not_of(WHITE_SPACE_A);
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(WHITE_SPACE_A) - b + 1);
}

bool HasControlBreak(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }
bool HasLineBreak(const std::wstring& s) { return s.find_first_of(L"\r\n") != std::wstring::npos; }

std::wstring Widen(const std::string& s) {
  CAnsiToWide wide(s.c_str(), CP_THREAD_ACP);
  return wide.Get() != nullptr ? std::wstring(wide.Get()) : std::wstring();
}

std::string Narrow(const std::wstring& s) {
  CWideToAnsi narrow(s.c_str(), CP_THREAD_ACP);
  return narrow.Get() != nullptr ? std::string(narrow.Get()) : std::string();
}

// _wtoi: leading blanks, an optional sign, digits up to the first other
// character; no digits give 0. Saturates instead of overflowing.
long long ReadInteger(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    if (value < 1000000000LL) value = value * 10 + (text[i] - L'0');
  return negative ? -value : value;
}

// Closes the output file whenever DownloadData ends.
class COutputFile {
 public:
  ~COutputFile() { Close(); }
  bool Open(const std::wstring& path) {
    m_path = path;
    m_handle = CreateFileAlways(path);
    return m_handle != INVALID_FILE_HANDLE;
  }
  bool IsOpen() const { return m_handle != INVALID_FILE_HANDLE; }
  bool Write(const char* data, DWORD size) {
    DWORD written = 0;
    return platform::WriteFile(m_handle, data, size, &written) && written == size;
  }
  void Close() {
    if (m_handle != INVALID_FILE_HANDLE) platform::CloseHandle(m_handle);
    m_handle = INVALID_FILE_HANDLE;
  }
  // Closes and removes the file, so that no half-stored body remains.
  void Discard() {
    if (m_handle == INVALID_FILE_HANDLE) return;
    Close();
    platform::DeleteFile(m_path);
  }

 private:
  std::wstring m_path;
  FileHandle m_handle = INVALID_FILE_HANDLE;
};

void TraceBodyTooLarge() {
  TraceFormat(TRACE_WARNING, L"HttpDownloader::DownloadData body larger than %u bytes refused",
              static_cast<unsigned>(HTTP_MAX_BODY_SIZE));
}

}  // namespace

void SplitUrl(const std::wstring& url, std::wstring& host, std::wstring& path, uint16_t& port) {
  std::wstring rest = url;
  size_t scheme = rest.find(L"://");
  if (scheme != std::wstring::npos) rest.erase(0, scheme + 3);
  size_t slash = rest.find(L'/');
  if (slash == std::wstring::npos) {
    host = rest;
    path.clear();
  } else {
    host = rest.substr(0, slash);
    path = rest.substr(slash + 1);
  }
  host = TrimW(host);
  path = TrimW(path);
  port = INTERNET_DEFAULT_HTTP_PORT;
  size_t colon = host.find(L':');
  if (colon != std::wstring::npos) {
    long long value = ReadInteger(TrimW(host.substr(colon + 1)));
    host = TrimW(host.substr(0, colon));
    port = (value < 0 || value > 65535) ? INTERNET_DEFAULT_HTTP_PORT : static_cast<uint16_t>(value);
  }
}

uint32_t QueryHeaderNumber(HINTERNET request, DWORD infoLevel) {
  DWORD value = 0;
  DWORD length = sizeof value;
  if (!WinHttpQueryHeaders(request, infoLevel | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &value, &length, nullptr))
    return 0;
  return value;
}

std::wstring QueryHeaderString(HINTERNET request, DWORD infoLevel) {
  DWORD bytes = 0;
  if (WinHttpQueryHeaders(request, infoLevel, nullptr, nullptr, &bytes, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return std::wstring();
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, infoLevel, nullptr, buffer.data(), &bytes, nullptr)) return std::wstring();
  return std::wstring(buffer.data());
}

CHttpDownloaderBase::CHttpDownloaderBase(const std::string& proxy, const std::wstring& outputFile)
    : m_hSession(nullptr),
      m_hConnect(nullptr),
      m_hRequest(nullptr),
      m_nContentLength(0),
      m_nBytesReceived(0),
      m_strOutputFile(outputFile),
      m_nTimeout(0),
      m_pProgressSink(nullptr),
      m_pBodyConsumer(nullptr),
      m_bStop(false),
      m_nStatusCode(0),
      m_nLastError(0) {
  const std::wstring proxyName = TrimW(Widen(proxy));
  // A failed open surfaces as a failed connect. The line written here says
  // why: a proxy text that cannot be used fails the session, and the fetch
  // must not look like an ordinary network failure.
  if (!proxyName.empty())
    m_hSession = WinHttpOpen(g_szDefaultUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxyName.c_str());
  else
    m_hSession = WinHttpOpen(g_szDefaultUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr);
  if (m_hSession == nullptr)
    TraceFormat(TRACE_WARNING, L"CHttpDownloaderBase - WinHttpOpen error=[%d], Proxy: \"%s\"",
                static_cast<int>(GetLastError()), proxyName.c_str());
}

CHttpDownloaderBase::~CHttpDownloaderBase() {
  CloseRequest();
  if (m_hSession != nullptr) WinHttpCloseHandle(m_hSession);
  m_hSession = nullptr;
}

void CHttpDownloaderBase::SetHeader(const std::string& name, const std::string& value) {
  std::string key = TrimA(name);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (key == "cookie")
    m_strCookie = value;
  else
    m_requestHeaders[name] = value;
}

bool CHttpDownloaderBase::Fetch(const std::string& url) {
  m_strUrl = url;
  bool ok = OpenRequest(L"GET") && PrepareRequest(0) && SendRequest(std::string()) && ReceiveResponse(false) &&
            DownloadData();
  CloseRequest();
  return ok;
}

bool CHttpDownloaderBase::OpenRequest(const std::wstring& verb) {
  m_nStatusCode = 0;
  m_strStatusText.clear();
  const std::wstring referrer = TrimW(Widen(m_strReferrer));
  std::wstring host;
  std::wstring path;
  uint16_t port = 0;
  SplitUrl(Widen(m_strUrl), host, path, port);
  if (host.empty()) return false;
  // Surrounding line breaks are trimmed away like any blank; one that is
  // left inside host, path or referrer would split the request.
  if (m_strUrl.find('\0') != std::string::npos || m_strReferrer.find('\0') != std::string::npos ||
      HasLineBreak(host) || HasLineBreak(path) || HasLineBreak(referrer)) {
    m_nLastError = ERROR_WINHTTP_INVALID_URL;
    g_TraceLog.Log(TRACE_WARNING, L"CHttpDownloaderBase::OpenRequest - CR, LF or NUL in the URL or referrer refused");
    return false;
  }

  m_hConnect = WinHttpConnect(m_hSession, host.c_str(), port);
  if (m_hConnect == nullptr) {
    m_nLastError = GetLastError();
    return false;
  }
  m_hRequest = WinHttpOpenRequest(m_hConnect, verb.c_str(), path.c_str(),
                                  referrer.empty() ? nullptr : referrer.c_str(), WINHTTP_FLAG_REFRESH);
  if (m_hRequest == nullptr) {
    m_nLastError = GetLastError();
    return false;
  }
  return true;
}

bool CHttpDownloaderBase::PrepareRequest(uint32_t disableFeatureMask) {
  if (m_hConnect == nullptr || m_hRequest == nullptr) return false;
  if (m_nTimeout > 0) {
    int limit = m_nTimeout > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(m_nTimeout);
    WinHttpSetTimeouts(m_hRequest, 0, limit, limit, limit);
  }
  const DWORD flags = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;
  auto refused = [] {
    g_TraceLog.Log(TRACE_WARNING, L"CHttpDownloaderBase::PrepareRequest - CR, LF or NUL in a header refused");
    return false;
  };
  if (!m_strCookie.empty()) {
    if (HasControlBreak(m_strCookie)) return refused();
    std::wstring line = L"Cookie: " + Widen(m_strCookie);
    if (!WinHttpAddRequestHeaders(m_hRequest, line.c_str(), WINHTTP_HEADERS_LENGTH_TERMINATED, flags)) return false;
  }
  for (const auto& entry : m_requestHeaders) {
    if (HasControlBreak(entry.first) || HasControlBreak(entry.second)) return refused();
    std::wstring line = Widen(entry.first) + L": " + Widen(entry.second);
    if (!WinHttpAddRequestHeaders(m_hRequest, line.c_str(), WINHTTP_HEADERS_LENGTH_TERMINATED, flags)) return false;
  }
  m_requestHeaders.clear();
  if (disableFeatureMask != 0) {
    DWORD mask = disableFeatureMask;
    if (!WinHttpSetOption(m_hRequest, WINHTTP_OPTION_DISABLE_FEATURE, &mask, sizeof mask)) return false;
  }
  return true;
}

bool CHttpDownloaderBase::SendRequest(const std::string& body) {
  const DWORD length = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(m_hRequest, nullptr, 0, body.empty() ? nullptr : body.data(), length, length, 0)) {
    m_nLastError = GetLastError();
    TraceFormat(TRACE_WARNING, L"CHttpDownloaderBase::SendRequest - error=[%d]", static_cast<int>(m_nLastError));
    return false;
  }
  return true;
}

bool CHttpDownloaderBase::ReceiveResponse(bool acceptAnyStatus) {
  bool ok = false;
  try {
    ok = WinHttpReceiveResponse(m_hRequest);
  } catch (...) {
    ok = false;
    // The exception may have taken the transport's error with it (on
    // Windows the unwinder resets the thread's last error): never report a
    // failed call with code 0.
    if (GetLastError() == 0) SetLastError(platform::ERROR_WINHTTP_INTERNAL_ERROR);
  }
  if (!ok) {
    m_nLastError = GetLastError();
    return false;
  }
  m_nStatusCode = QueryHeaderNumber(m_hRequest, WINHTTP_QUERY_STATUS_CODE);
  m_strStatusText = QueryHeaderString(m_hRequest, WINHTTP_QUERY_STATUS_TEXT);
  if (!acceptAnyStatus && (m_nStatusCode < 200 || m_nStatusCode > 299)) return false;
  m_nContentLength = QueryHeaderNumber(m_hRequest, WINHTTP_QUERY_CONTENT_LENGTH);
  return ParseResponseHeaders();
}

bool CHttpDownloaderBase::ParseResponseHeaders() {
  m_responseHeaders.clear();
  DWORD bytes = 0;
  bool sized = WinHttpQueryHeaders(m_hRequest, WINHTTP_QUERY_RAW_HEADERS, nullptr, nullptr, &bytes, nullptr);
  m_nLastError = GetLastError();
  if (sized || m_nLastError != ERROR_INSUFFICIENT_BUFFER) return false;

  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(m_hRequest, WINHTTP_QUERY_RAW_HEADERS, nullptr, buffer.data(), &bytes, nullptr)) {
    m_nLastError = GetLastError();
    return false;
  }
  // Lines ended by NUL, the run ended by an empty line; the first line is
  // the status line.
  const size_t count = buffer.size() - 1;
  size_t pos = 0;
  bool first = true;
  while (pos < count) {
    size_t end = pos;
    while (end < count && buffer[end] != L'\0') ++end;
    if (end == pos) break;
    std::wstring line(buffer.data() + pos, end - pos);
    pos = end + 1;
    if (first) {
      first = false;
      continue;
    }
    size_t colon = line.find(L':');
    if (colon == std::wstring::npos || colon == 0) continue;
    m_responseHeaders[Narrow(TrimW(line.substr(0, colon)))].push_back(Narrow(TrimW(line.substr(colon + 1))));
  }
  return true;
}

namespace {

// The downloader's side of a body read, one chunk at a time: the size
// limit, the output file, the body's destination, the progress sink and the
// stop flag, in that order. A refused chunk says why in m_eWhy.
class CBodyReceiver : public IHttpBodySink {
 public:
  enum class EWhy { kNone, kTooLarge, kFileWrite, kStopped, kException };

  CBodyReceiver(CHttpDownloaderBase& downloader, COutputFile& file, std::string& stream)
      : m_downloader(downloader), m_file(file), m_stream(stream) {}

  bool OnBodyChunk(const char* data, DWORD size) override {
    CHttpDownloaderBase& d = m_downloader;
    if (static_cast<uint64_t>(d.m_nBytesReceived) + size > HTTP_MAX_BODY_SIZE) return Refuse(EWhy::kTooLarge);
    if (m_file.IsOpen() && !m_file.Write(data, size)) return Refuse(EWhy::kFileWrite);
    try {
      if (d.m_pBodyConsumer != nullptr) {
        d.m_pBodyConsumer->Append(data, size);
      } else {
        if (m_stream.capacity() - m_stream.size() < size)
          m_stream.reserve(std::max<size_t>(m_stream.size() + size, m_stream.capacity() * 2));
        m_stream.append(data, size);
      }
      d.m_nBytesReceived += size;
      if (d.m_pProgressSink != nullptr) d.m_pProgressSink->OnProgress(d.m_nBytesReceived, d.m_nContentLength);
    } catch (...) {
      // Not through the transport's C callback: kept and raised once the
      // transfer has ended.
      m_exception = std::current_exception();
      return Refuse(EWhy::kException);
    }
    return d.m_bStop ? Refuse(EWhy::kStopped) : true;
  }

  EWhy Why() const { return m_eWhy; }
  [[noreturn]] void Rethrow() const { std::rethrow_exception(m_exception); }

 private:
  bool Refuse(EWhy why) {
    m_eWhy = why;
    return false;
  }

  CHttpDownloaderBase& m_downloader;
  COutputFile& m_file;
  std::string& m_stream;
  EWhy m_eWhy = EWhy::kNone;
  std::exception_ptr m_exception;
};

}  // namespace

bool CHttpDownloaderBase::DownloadData() {
  COutputFile file;
  if (!m_strOutputFile.empty() && !file.Open(m_strOutputFile)) return false;
  m_nBytesReceived = 0;
  std::string stream;
  if (m_nContentLength > HTTP_MAX_BODY_SIZE) {
    TraceBodyTooLarge();
    file.Discard();
    return false;
  }
  // One block for an announced body (at most the limit); an unannounced one
  // grows geometrically.
  if (m_pBodyConsumer != nullptr)
    m_pBodyConsumer->Begin(m_nContentLength);
  else
    stream.reserve(m_nContentLength);
  CBodyReceiver receiver(*this, file, stream);
  switch (ReadHttpBody(m_hRequest, receiver)) {
    case EBodyRead::kEnd:
      if (m_pBodyConsumer == nullptr) m_strBody = std::move(stream);
      return true;
    case EBodyRead::kFailed:
      m_nLastError = GetLastError();
      TraceFormat(TRACE_WARNING, L"HttpDownloader::DownloadData WinHttpQueryDataAvailable error=[%d]",
                  static_cast<int>(m_nLastError));
      return false;
    case EBodyRead::kShortRead:
      TraceFormat(TRACE_WARNING, L"HttpDownloader::DownloadData WinHttpReadData");
      return false;
    case EBodyRead::kNoMemory:
      TraceFormat(TRACE_WARNING, L"HttpDownloader::DownloadData OUT OF MEMORY");
      return false;
    case EBodyRead::kRefused:
      break;
  }
  switch (receiver.Why()) {
    case CBodyReceiver::EWhy::kTooLarge:
      TraceBodyTooLarge();
      file.Discard();
      return false;
    case CBodyReceiver::EWhy::kFileWrite:
      TraceFormat(TRACE_WARNING, L"HttpDownloader::DownloadData write to file");
      return false;
    case CBodyReceiver::EWhy::kException:
      receiver.Rethrow();
    case CBodyReceiver::EWhy::kStopped:
    case CBodyReceiver::EWhy::kNone:
      break;
  }
  return false;
}

void CHttpDownloaderBase::CloseRequest() {
  if (m_hRequest != nullptr) WinHttpCloseHandle(m_hRequest);
  if (m_hConnect != nullptr) WinHttpCloseHandle(m_hConnect);
  m_hRequest = nullptr;
  m_hConnect = nullptr;
}

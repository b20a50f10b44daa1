// Windows backend of platform/HttpTransport.h on WinHTTP.
//
// The calls go to WinHTTP one for one; this file adds what the transport
// contract asks beyond WinHTTP, and evens out where Wine's WinHTTP differs
// from Windows':
//  - a CR, LF or NUL never reaches the wire: such an agent, proxy, referrer
//    or header line is refused before WinHTTP sees it (87 / 12005 / 12153);
//  - redirects are followed by hand (WinHTTP's own are always disabled):
//    http -> https and https -> https, at most the tuning's number of hops;
//    https -> http and every other scheme fail with 12156 before anything
//    goes to the target (Wine's WinHTTP follows file: and ftp: targets).
//    Each hop is a new request on the caller's session; the caller's
//    handle stays the one it closes, the hop's answers the queries;
//  - the tuning's connect, send and receive time-outs apply to every
//    request (WinHttpSetTimeouts with 0 would mean "no limit" for some);
//    the receive limit covers the wait for the response head as well
//    (WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, which Wine otherwise leaves
//    unlimited), and a body that trickles below the tuning's rate ends
//    with 12002 (WinHTTP has no such guard);
//  - not evened out: Wine sends an https request through a named proxy in
//    the clear as "GET https://..." instead of through CONNECT;
//  - a named proxy text is read by the shared rules (platform/ProxyText.h):
//    a bare host is port 80, an unparseable text fails the session (87)
//    and never goes direct;
//  - certificate failures, as 12xxx detail codes or CryptoAPI/SSPI status
//    codes, all become ERROR_WINHTTP_SECURE_FAILURE;
//  - the stop query is asked before every call that waits and a "stop"
//    ends the request for good (12017). A synchronous WinHTTP call that is
//    already waiting is not interrupted: the contract's 0.5 s while
//    waiting is not met yet;
//  - Wine reports some socket failures with their raw Winsock codes
//    (10060 timed out, 10061 refused, 10054 reset): these are mapped onto
//    the WinHTTP codes Windows gives (12002, 12029, 12030);
//  - Wine reports a connection dropped before the announced Content-Length
//    as a normal end of the body: the backend counts the body bytes and
//    fails the read with 12030, as Windows does;
//  - Wine writes the port into a proxied request's absolute URL when the
//    caller names port 80 ("http://host:80/..."); port 80 is passed as
//    INTERNET_DEFAULT_PORT, which both write as "http://host/...";
//  - Wine drops the referrer argument of WinHttpOpenRequest: the backend
//    adds the Referer header itself;
//  - Wine's WINHTTP_QUERY_RAW_HEADERS keeps CR LF between the lines; the
//    backend builds the NUL-separated form of the contract from
//    WINHTTP_QUERY_RAW_HEADERS_CRLF.
// Handles are WinHTTP's own; closing a parent before a child is fine with
// WinHTTP as well.
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <cwctype>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
#include "platform/NoDestructor.h"
#include "platform/Path.h"
#include "platform/ProxyText.h"
#include "platform/RequestTarget.h"
#include "platform/win32/WinApi.h"
#include <winhttp.h>

namespace platform {
namespace {

bool HasBreak(const wchar_t* text, size_t length) {
  for (size_t k = 0; k < length; ++k)
    if (text[k] == L'\r' || text[k] == L'\n' || text[k] == L'\0') return true;
  return false;
}
bool HasBreak(const wchar_t* text) { return text != nullptr && HasBreak(text, std::wcslen(text)); }

// WinHTTP and Winsock codes onto the WinHTTP codes of the contract.
DWORD MapError(DWORD code) {
  switch (code) {
    case WSAETIMEDOUT: return ERROR_WINHTTP_TIMEOUT;
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH: return ERROR_WINHTTP_CANNOT_CONNECT;
    case WSAECONNRESET:
    case WSAECONNABORTED: return ERROR_WINHTTP_CONNECTION_ERROR;
    // The certificate family: the contract has one code for every failed
    // verification. Windows gives the detailed 12xxx codes; Wine may hand
    // back the CryptoAPI or SSPI status instead.
    case 12037:  // ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
    case 12038:  // ERROR_WINHTTP_SECURE_CERT_CN_INVALID
    case 12045:  // ERROR_WINHTTP_SECURE_INVALID_CA
    case 12057:  // ERROR_WINHTTP_SECURE_CERT_REV_FAILED
    case 12157:  // ERROR_WINHTTP_SECURE_CHANNEL_ERROR
    case 12169:  // ERROR_WINHTTP_SECURE_INVALID_CERT
    case 12170:  // ERROR_WINHTTP_SECURE_CERT_REVOKED
    case 12179:  // ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(SEC_E_UNTRUSTED_ROOT):
    case static_cast<DWORD>(SEC_E_WRONG_PRINCIPAL):
    case static_cast<DWORD>(SEC_E_CERT_EXPIRED):
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE): return ERROR_WINHTTP_SECURE_FAILURE;
    default: return code;
  }
}

template <typename T>
T Checked(T result) {
  if (!result) ::SetLastError(MapError(::GetLastError()));
  return result;
}

bool Refuse(DWORD code) {
  ::SetLastError(code);
  return false;
}

// What the backend tracks per request to check the body's length.
struct CBodyCount {
  bool responded = false;  // ReceiveResponse succeeded
  bool lengthKnown = false;
  bool cancelled = false;  // the stop query said stop: every later wait fails
  uint64_t length = 0;
  uint64_t received = 0;
  // The trickle guard's window: bytes received since windowStartMs.
  uint64_t windowStartMs = 0;
  uint64_t windowBytes = 0;
  // What following a redirect by hand needs: where the request went last,
  // how it was made, and the hop that now carries the response.
  HINTERNET session = nullptr;
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object;  // path and query of the last hop
  std::wstring verb;
  DWORD flags = 0;
  std::vector<std::pair<std::wstring, DWORD>> headers;  // AddRequestHeaders calls, to replay
  bool redirectsDisabled = false;
  HINTERNET hopConnect = nullptr;
  HINTERNET hopRequest = nullptr;
};

// What a connection handle was made for.
struct SConnectTarget {
  HINTERNET session = nullptr;
  std::wstring host;
  INTERNET_PORT port = 0;
};

// A redirect target, resolved against the hop it came from.
struct SRedirectTarget {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object;
};

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// Resolves `location` against the last hop. False for every scheme but
// http and https, and for a location without a usable host.
bool ResolveRedirect(const CBodyCount& from, std::wstring location, SRedirectTarget& to) {
  const size_t fragment = location.find(L'#');
  if (fragment != std::wstring::npos) location.resize(fragment);
  to.secure = from.secure;
  to.host = from.host;
  to.port = from.port;
  const size_t colon = location.find(L':');
  const size_t delimiter = location.find_first_of(L"/?#");
  std::wstring rest = location;
  if (colon != std::wstring::npos && (delimiter == std::wstring::npos || colon < delimiter)) {
    const std::wstring scheme = Lower(location.substr(0, colon));
    if (scheme == L"http") to.secure = false;
    else if (scheme == L"https") to.secure = true;
    else return false;
    rest = location.substr(colon + 1);
    if (rest.compare(0, 2, L"//") != 0) return false;
    to.port = 0;
  }
  if (rest.compare(0, 2, L"//") == 0) {
    const size_t end = rest.find_first_of(L"/?", 2);
    std::wstring authority = rest.substr(2, end == std::wstring::npos ? std::wstring::npos : end - 2);
    rest = end == std::wstring::npos ? std::wstring() : rest.substr(end);
    const size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) authority.erase(0, at + 1);
    std::wstring portText;
    if (!authority.empty() && authority[0] == L'[') {
      const size_t close = authority.find(L']');
      if (close == std::wstring::npos) return false;
      to.host = authority.substr(1, close - 1);
      if (close + 1 < authority.size()) {
        if (authority[close + 1] != L':') return false;
        portText = authority.substr(close + 2);
      }
    } else {
      const size_t portColon = authority.rfind(L':');
      to.host = authority.substr(0, portColon);
      if (portColon != std::wstring::npos) portText = authority.substr(portColon + 1);
    }
    if (to.host.empty()) return false;
    to.port = 0;
    if (!portText.empty()) {
      unsigned long value = 0;
      for (wchar_t c : portText) {
        if (c < L'0' || c > L'9' || value > 65535) return false;
        value = value * 10 + static_cast<unsigned long>(c - L'0');
      }
      if (value == 0 || value > 65535) return false;
      to.port = static_cast<INTERNET_PORT>(value);
    }
    to.object = rest.empty() || rest[0] != L'/' ? L"/" + rest : rest;
  } else if (!rest.empty() && rest[0] == L'/') {
    to.object = rest;
  } else {
    // Relative to the folder of the last hop's path.
    std::wstring base = from.object.substr(0, from.object.find(L'?'));
    base.resize(base.rfind(L'/') + 1);
    to.object = base + rest;
  }
  return true;
}

class CWinHttpTransport : public IHttpTransport {
 public:
  // The WinHTTP request that carries the response: the last redirect hop.
  HINTERNET Active(HINTERNET request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const CBodyCount* count = Count(request);
    return count != nullptr && count->hopRequest != nullptr ? count->hopRequest : request;
  }

  // Every request leaves redirects to this backend, and gets the tuning's
  // limits (WinHttpSetTimeouts with 0 would mean "no limit" for some; the
  // wait for the response head has its own limit, which Wine leaves
  // unlimited).
  static void Prepare(HINTERNET request) {
    const HttpTransportTuning tuning = GetHttpTransportTuning();
    DWORD mask = WINHTTP_DISABLE_REDIRECTS;
    ::WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &mask, sizeof mask);
    ::WinHttpSetTimeouts(request, 0, static_cast<int>(tuning.connectTimeoutMs),
                         static_cast<int>(tuning.sendTimeoutMs), static_cast<int>(tuning.receiveTimeoutMs));
    DWORD headLimit = tuning.receiveTimeoutMs;
    ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headLimit, sizeof headLimit);
  }

  // Follows the redirects of a received response by hand: http -> https and
  // https -> https, at most the tuning's number of hops; https -> http and
  // every other scheme fail with ERROR_WINHTTP_REDIRECT_FAILED before
  // anything goes to the target. Each hop is a new WinHTTP request on the
  // caller's session, so an https hop through a named proxy is tunnelled
  // (CONNECT) and verified, which Wine does not do for the redirects it
  // follows itself.
  bool FollowRedirects(HINTERNET request) {
    const DWORD maxHops = GetHttpTransportTuning().maxRedirects;
    for (DWORD hops = 0;; ++hops) {
      CBodyCount state;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        const CBodyCount* count = Count(request);
        if (count == nullptr || count->redirectsDisabled) return true;
        state = *count;
      }
      HINTERNET current = state.hopRequest != nullptr ? state.hopRequest : request;
      DWORD status = 0;
      DWORD size = sizeof status;
      if (!::WinHttpQueryHeaders(current, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return true;
      if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return true;
      DWORD bytes = 0;
      ::WinHttpQueryHeaders(current, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                            WINHTTP_NO_HEADER_INDEX);
      if (bytes == 0) return true;  // no Location: the 3xx is the response
      std::wstring location(bytes / sizeof(wchar_t) + 1, L'\0');
      if (!::WinHttpQueryHeaders(current, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, &location[0], &bytes,
                                 WINHTTP_NO_HEADER_INDEX))
        return true;
      location.resize(bytes / sizeof(wchar_t));
      SRedirectTarget target;
      if (hops >= maxHops || !ResolveRedirect(state, location, target) || (state.secure && !target.secure) ||
          HasBreak(target.object.c_str()) || HasBreak(target.host.c_str()))
        return Refuse(ERROR_WINHTTP_REDIRECT_FAILED);
      if (StopRequested(request)) return false;
      const INTERNET_PORT port = target.port != 0 ? target.port
                                 : target.secure ? INTERNET_DEFAULT_HTTPS_PORT
                                                 : INTERNET_DEFAULT_PORT;
      const bool keepVerb = status == 307 || status == 308 || (state.verb != L"POST" && status != 303);
      HINTERNET connect = Checked(::WinHttpConnect(state.session, target.host.c_str(), port, 0));
      if (connect == nullptr) return false;
      HINTERNET next = Checked(::WinHttpOpenRequest(
          connect, keepVerb ? state.verb.c_str() : L"GET", target.object.c_str(), nullptr, WINHTTP_NO_REFERER,
          WINHTTP_DEFAULT_ACCEPT_TYPES,
          (state.flags & WINHTTP_FLAG_REFRESH) | WINHTTP_FLAG_ESCAPE_DISABLE | (target.secure ? WINHTTP_FLAG_SECURE : 0)));
      if (next == nullptr) {
        ::WinHttpCloseHandle(connect);
        return false;
      }
      Prepare(next);
      for (const auto& line : state.headers)
        ::WinHttpAddRequestHeaders(next, line.first.c_str(), static_cast<DWORD>(line.first.size()), line.second);
      {
        // The hop replaces the one before it, even when it fails: its error
        // is the response's.
        std::lock_guard<std::mutex> lock(m_mutex);
        CBodyCount* count = Count(request);
        if (count->hopRequest != nullptr) {
          ::WinHttpCloseHandle(count->hopRequest);
          ::WinHttpCloseHandle(count->hopConnect);
        }
        count->hopRequest = next;
        count->hopConnect = connect;
        count->secure = target.secure;
        count->host = target.host;
        count->port = target.port;
        count->object = target.object;
      }
      if (!Checked(::WinHttpSendRequest(next, WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0)) ||
          StopRequested(request) || !Checked(::WinHttpReceiveResponse(next, nullptr)))
        return false;
    }
  }

  CBodyCount* Count(HINTERNET request) {
    auto it = m_counts.find(request);
    return it != m_counts.end() ? &it->second : nullptr;
  }

  // Asks the calling thread's stop query before a call that waits; once it
  // said stop, the request stays ended (12017) until it is closed.
  // WinHTTP's synchronous calls cannot be interrupted from the calling
  // thread, so a call that is already waiting is not ended by a stop.
  bool StopRequested(HINTERNET request) {
    bool stop = false;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      const CBodyCount* count = Count(request);
      stop = count != nullptr && count->cancelled;
    }
    if (!stop && IsStopQueryAnsweringStop()) {
      stop = true;
      std::lock_guard<std::mutex> lock(m_mutex);
      if (CBodyCount* count = Count(request)) count->cancelled = true;
    }
    if (stop) ::SetLastError(ERROR_WINHTTP_OPERATION_CANCELLED);
    return stop;
  }

  // The trickle guard, checked as body bytes arrive: fewer than the
  // tuning's rate over its window ends the body with ERROR_WINHTTP_TIMEOUT.
  // WinHTTP has no such guard; a server that sends nothing at all is left
  // to the receive time-out.
  bool Trickling(HINTERNET request, DWORD bytes) {
    const HttpTransportTuning tuning = GetHttpTransportTuning();
    const uint64_t now = ::GetTickCount64();
    std::lock_guard<std::mutex> lock(m_mutex);
    CBodyCount* count = Count(request);
    if (count == nullptr || tuning.lowSpeedSeconds == 0) return false;
    count->windowBytes += bytes;
    const uint64_t windowMs = static_cast<uint64_t>(tuning.lowSpeedSeconds) * 1000;
    if (now - count->windowStartMs < windowMs) return false;
    const uint64_t wanted = static_cast<uint64_t>(tuning.lowSpeedBytesPerSecond) * tuning.lowSpeedSeconds;
    if (count->windowBytes < wanted) {
      ::SetLastError(ERROR_WINHTTP_TIMEOUT);
      return true;
    }
    count->windowStartMs = now;
    count->windowBytes = 0;
    return false;
  }

  // The NUL-separated raw head from WinHTTP's CR LF form.
  bool RawHeaders(HINTERNET request, void* buffer, DWORD* bufferLength) {
    DWORD bytes = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Checked(FALSE) != FALSE;
    std::wstring crlf(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &crlf[0], &bytes,
                               WINHTTP_NO_HEADER_INDEX))
      return Checked(FALSE) != FALSE;
    crlf.resize(bytes / sizeof(wchar_t));
    std::wstring raw;
    for (size_t k = 0; k < crlf.size(); ++k) {
      if (crlf[k] == L'\r' && k + 1 < crlf.size() && crlf[k + 1] == L'\n') {
        raw += L'\0';
        ++k;
      } else {
        raw += crlf[k];
      }
    }
    while (raw.size() >= 2 && raw[raw.size() - 1] == L'\0' && raw[raw.size() - 2] == L'\0') raw.pop_back();
    raw += L'\0';  // the empty line that ends the head
    const DWORD needed = static_cast<DWORD>((raw.size() + 1) * sizeof(wchar_t));
    if (buffer == nullptr || *bufferLength < needed) {
      *bufferLength = needed;
      return Refuse(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, raw.c_str(), needed);
    *bufferLength = needed - sizeof(wchar_t);
    return true;
  }

  HINTERNET Open(const wchar_t* agent, DWORD accessType, const wchar_t* proxyName) override {
    if (HasBreak(agent) || HasBreak(proxyName)) return Refuse(ERROR_INVALID_PARAMETER), nullptr;
    if (accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && (proxyName == nullptr || *proxyName == L'\0'))
      return Refuse(ERROR_INVALID_PARAMETER), nullptr;
    if (accessType != WINHTTP_ACCESS_TYPE_DEFAULT_PROXY && accessType != WINHTTP_ACCESS_TYPE_NO_PROXY &&
        accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY)
      return Refuse(ERROR_INVALID_PARAMETER), nullptr;
    // A named proxy is read by the shared rules (platform/ProxyText.h), so
    // every backend takes the same texts: a bare host is port 80, and a text
    // that cannot be parsed fails the session (Wine's WinHTTP would take
    // "host:notaport" and carry on). WinHTTP then gets "host:port".
    std::wstring proxy;
    if (accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      // Host names and addresses are ASCII; anything else is refused.
      std::string text;
      for (const wchar_t* p = proxyName; *p != L'\0'; ++p) {
        if (*p > 0x7F) return Refuse(ERROR_INVALID_PARAMETER), nullptr;
        text += static_cast<char>(*p);
      }
      std::string url;
      if (!ParseNamedProxy(text, url)) return Refuse(ERROR_INVALID_PARAMETER), nullptr;
      url.erase(0, std::strlen("http://"));
      proxy.assign(url.begin(), url.end());
    }
    return Checked(::WinHttpOpen(agent, accessType, proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(),
                                 WINHTTP_NO_PROXY_BYPASS, 0));
  }

  HINTERNET Connect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port) override {
    if (serverName == nullptr || *serverName == L'\0' || HasBreak(serverName))
      return Refuse(ERROR_WINHTTP_INVALID_URL), nullptr;
    if (port == INTERNET_DEFAULT_HTTP_PORT) port = INTERNET_DEFAULT_PORT;
    HINTERNET connect = Checked(::WinHttpConnect(session, serverName, port, 0));
    if (connect != nullptr) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_connects[connect] = SConnectTarget{session, serverName, port};
    }
    return connect;
  }

  HINTERNET OpenRequest(HINTERNET connect, const wchar_t* verb, const wchar_t* objectName, const wchar_t* referrer,
                        DWORD flags) override {
    if (HasBreak(objectName)) return Refuse(ERROR_WINHTTP_INVALID_URL), nullptr;
    if (HasBreak(referrer) || HasBreak(verb)) return Refuse(ERROR_INVALID_PARAMETER), nullptr;
    // The contract's object name has no leading slash; WinHTTP's has one.
    // Encoded here by the shared rules and passed with escaping off, so that
    // the bytes on the wire are those of every other backend (Wine leaves a
    // '%' that starts no escape as it is).
    std::wstring path;
    if (objectName != nullptr) path = objectName[0] == L'/' ? objectName + 1 : objectName;
    const std::wstring object = L"/" + FromNativePath(EncodeRequestTarget(ToNativePath(path)));
    HINTERNET request = Checked(::WinHttpOpenRequest(connect, verb, object.c_str(), nullptr,
                                                     referrer != nullptr ? referrer : WINHTTP_NO_REFERER,
                                                     WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     (flags & WINHTTP_FLAG_REFRESH) | WINHTTP_FLAG_ESCAPE_DISABLE));
    if (request == nullptr) return nullptr;
    if (referrer != nullptr && *referrer != L'\0') {
      const std::wstring line = std::wstring(L"Referer: ") + referrer;
      ::WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(line.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      CBodyCount& count = m_counts[request] = CBodyCount();
      auto target = m_connects.find(connect);
      if (target != m_connects.end()) {
        count.session = target->second.session;
        count.host = target->second.host;
        count.port = target->second.port;
      }
      count.object = object;
      count.verb = verb != nullptr ? verb : L"GET";
      count.flags = flags;
      if (referrer != nullptr && *referrer != L'\0')
        count.headers.emplace_back(std::wstring(L"Referer: ") + referrer,
                                   WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    Prepare(request);
    return request;
  }

  bool SetTimeouts(HINTERNET request, int resolveTimeout, int connectTimeout, int sendTimeout,
                   int receiveTimeout) override {
    if (resolveTimeout < -1 || connectTimeout < -1 || sendTimeout < -1 || receiveTimeout < -1)
      return Refuse(ERROR_INVALID_PARAMETER);
    // 0 and -1 keep the tuning's limits: an unlimited wait would let a
    // server hold the host's thread forever.
    const HttpTransportTuning tuning = GetHttpTransportTuning();
    auto pick = [](int asked, DWORD fallback) { return asked > 0 ? asked : static_cast<int>(fallback); };
    DWORD headLimit = static_cast<DWORD>(pick(receiveTimeout, tuning.receiveTimeoutMs));
    ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headLimit, sizeof headLimit);
    return Checked(::WinHttpSetTimeouts(request, resolveTimeout > 0 ? resolveTimeout : 0,
                                        pick(connectTimeout, tuning.connectTimeoutMs),
                                        pick(sendTimeout, tuning.sendTimeoutMs),
                                        pick(receiveTimeout, tuning.receiveTimeoutMs))) != FALSE;
  }

  bool AddRequestHeaders(HINTERNET request, const wchar_t* headers, DWORD length, DWORD modifiers) override {
    if (headers == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
    std::wstring text = length == WINHTTP_HEADERS_LENGTH_TERMINATED ? std::wstring(headers)
                                                                     : std::wstring(headers, length);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0) text.resize(text.size() - 2);
    if (HasBreak(text.data(), text.size()) || text.find(L':') == std::wstring::npos || text[0] == L':')
      return Refuse(ERROR_WINHTTP_INVALID_HEADER);
    if (!Checked(::WinHttpAddRequestHeaders(request, text.c_str(), static_cast<DWORD>(text.size()), modifiers)))
      return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CBodyCount* count = Count(request)) count->headers.emplace_back(text, modifiers);
    return true;
  }

  bool SetOption(HINTERNET request, DWORD option, const void* buffer, DWORD length) override {
    // Redirects are always off in WinHTTP here (Prepare); the caller's
    // choice is kept for FollowRedirects.
    if (option == WINHTTP_OPTION_DISABLE_FEATURE && buffer != nullptr && length >= sizeof(DWORD)) {
      std::lock_guard<std::mutex> lock(m_mutex);
      CBodyCount* count = Count(request);
      if (count != nullptr && (*static_cast<const DWORD*>(buffer) & WINHTTP_DISABLE_REDIRECTS) != 0)
        count->redirectsDisabled = true;
    }
    return Checked(::WinHttpSetOption(request, option, const_cast<void*>(buffer), length)) != FALSE;
  }

  bool SendRequest(HINTERNET request, const wchar_t* headers, DWORD headersLength, const void* optional,
                   DWORD optionalLength, DWORD totalLength, uintptr_t context) override {
    if (headers != nullptr && headersLength != 0) {
      const size_t n = headersLength == WINHTTP_HEADERS_LENGTH_TERMINATED ? std::wcslen(headers) : headersLength;
      std::wstring text(headers, n);
      if (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0) text.resize(text.size() - 2);
      if (HasBreak(text.data(), text.size())) return Refuse(ERROR_WINHTTP_INVALID_HEADER);
    }
    if (StopRequested(request)) return false;
    return Checked(::WinHttpSendRequest(request, headers != nullptr ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                                        headers != nullptr ? headersLength : 0, const_cast<void*>(optional),
                                        optionalLength, totalLength, context)) != FALSE;
  }

  bool ReceiveResponse(HINTERNET request) override {
    if (StopRequested(request)) return false;
    if (!Checked(::WinHttpReceiveResponse(request, nullptr)) || !FollowRedirects(request)) return false;
    HINTERNET active = Active(request);
    DWORD length = 0;
    DWORD size = sizeof length;
    const bool known = ::WinHttpQueryHeaders(active, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                             WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CBodyCount* count = Count(request)) {
      count->responded = true;
      count->lengthKnown = known;
      count->length = length;
      count->received = 0;
      count->windowStartMs = ::GetTickCount64();
      count->windowBytes = 0;
    }
    return true;
  }

  bool QueryHeaders(HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* bufferLength,
                    DWORD* index) override {
    if (bufferLength == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
    request = Active(request);
    if (infoLevel == WINHTTP_QUERY_RAW_HEADERS) return RawHeaders(request, buffer, bufferLength);
    return Checked(::WinHttpQueryHeaders(request, infoLevel, name != nullptr ? name : WINHTTP_HEADER_NAME_BY_INDEX,
                                         buffer, bufferLength, index)) != FALSE;
  }

  bool QueryDataAvailable(HINTERNET request, DWORD* available) override {
    if (available == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
    {
      // Wine answers before the response has been received; Windows refuses.
      std::lock_guard<std::mutex> lock(m_mutex);
      const CBodyCount* count = Count(request);
      if (count != nullptr && !count->responded) return Refuse(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    }
    if (StopRequested(request)) return false;
    if (!Checked(::WinHttpQueryDataAvailable(Active(request), available))) return false;
    if (*available == 0) {
      std::lock_guard<std::mutex> lock(m_mutex);
      const CBodyCount* count = Count(request);
      if (count != nullptr && count->lengthKnown && count->received < count->length)
        return Refuse(ERROR_WINHTTP_CONNECTION_ERROR);  // the body ended early
    }
    return true;
  }

  bool ReadData(HINTERNET request, void* buffer, DWORD toRead, DWORD* read) override {
    if (read == nullptr || (buffer == nullptr && toRead > 0)) return Refuse(ERROR_INVALID_PARAMETER);
    if (StopRequested(request)) return false;
    if (!Checked(::WinHttpReadData(Active(request), buffer, toRead, read))) return false;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (CBodyCount* count = Count(request)) count->received += *read;
    }
    return *read == 0 || !Trickling(request, *read);
  }

  bool CloseHandle(HINTERNET handle) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_counts.find(handle);
      if (it != m_counts.end()) {
        if (it->second.hopRequest != nullptr) {
          ::WinHttpCloseHandle(it->second.hopRequest);
          ::WinHttpCloseHandle(it->second.hopConnect);
        }
        m_counts.erase(it);
      }
      m_connects.erase(handle);
    }
    return Checked(::WinHttpCloseHandle(handle)) != FALSE;
  }

 private:
  std::mutex m_mutex;  // guards m_counts and m_connects
  std::unordered_map<HINTERNET, CBodyCount> m_counts;
  std::unordered_map<HINTERNET, SConnectTarget> m_connects;
};

}  // namespace

IHttpTransport& SystemHttpTransport() {
  static NoDestructor<CWinHttpTransport> s_instance;
  return *s_instance.get();
}

}  // namespace platform

// Windows backend of platform/HttpTransport.h on WinHTTP.
//
// The calls go to WinHTTP; this file adds what the transport contract asks
// beyond WinHTTP, and evens out where Wine's WinHTTP differs from
// Windows':
//  - the stop query: every session is opened asynchronous
//    (WINHTTP_FLAG_ASYNC) and each waiting call (send, receive, data
//    available, read) is started asynchronously and awaited on the calling
//    thread in waits of at most STOP_POLL_INTERVAL_MS, the stop query asked
//    between them. The caller still sees synchronous calls. On "stop" the
//    request's WinHTTP handles are closed (the one way to cancel WinHTTP's
//    pending work), the backend waits a short while for WinHTTP's
//    HANDLE_CLOSING notification, and the call fails with 12017, as does
//    every later waiting call on that request;
//  - a request handle given to the caller is this backend's own object, not
//    WinHTTP's: a stop closes the WinHTTP handle underneath, and WinHTTP may
//    hand the same value to the next request it opens, which must never be
//    mistaken for the caller's. Session and connection handles are
//    WinHTTP's own;
//  - whatever WinHTTP reads or writes while an asynchronous operation runs
//    (the request body, the read buffer, the completion record) belongs to
//    the backend, reference-counted between the caller's thread and
//    WinHTTP's notification, so a call ended by a stop never leaves WinHTTP
//    holding the caller's memory, however late WinHTTP lets go;
//  - ReceiveResponse returns once the final head is there and the body has
//    begun or ended (it awaits the first data-available completion and
//    hands that count to the next QueryDataAvailable), as the posix backend
//    does: a server that sends a head and then nothing keeps the call
//    waiting, stoppable, until the receive limit;
//  - a CR, LF or NUL never reaches the wire: such an agent, proxy, referrer
//    or header line is refused before WinHTTP sees it (87 / 12005 / 12153);
//  - redirects are followed by hand (WinHTTP's own are always disabled):
//    http -> https and https -> https, at most the tuning's number of hops;
//    https -> http and every other scheme fail with 12156 before anything
//    goes to the target (Wine's WinHTTP follows file: and ftp: targets).
//    Each hop is a new request on a session of the request's own, opened
//    with the settings of the caller's session (agent, proxy, the options
//    set on it), so a session the caller closed, or its handle value that
//    WinHTTP gave to another session, is never used. A hop replays the
//    request's headers, options and time-outs; 307 and 308 resend the body
//    and the additional headers of the send. The Location target goes to
//    WinHTTP with its own escaping on, as WinHTTP's own redirects would.
//    An https hop is opened with WINHTTP_FLAG_SECURE and an explicit port
//    443, so that through a named proxy it goes through "CONNECT host:443"
//    and TLS (Wine writes "CONNECT host:0" for the default port). Under Wine
//    the request inside the tunnel keeps the absolute form
//    ("GET https://host:443/path"): encrypted, but not the origin form
//    Windows sends;
//  - the tuning's connect, send and receive time-outs apply to every
//    request (WinHttpSetTimeouts with 0 would mean "no limit" for some);
//    the receive limit covers the wait for the response head as well
//    (WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, which Wine otherwise leaves
//    unlimited), and a body that trickles below the tuning's rate ends
//    with 12002 (WinHTTP has no such guard);
//  - a named proxy text is read by the shared rules (platform/ProxyText.h):
//    a bare host is port 80, an unparseable text fails the session (87)
//    and never goes direct;
//  - certificate failures, as 12xxx detail codes or CryptoAPI/SSPI status
//    codes, all become ERROR_WINHTTP_SECURE_FAILURE;
//  - Wine reports some socket failures with their raw Winsock codes
//    (10060 timed out, 10061 refused, 10054 reset): these are mapped onto
//    the WinHTTP codes Windows gives (12002, 12029, 12030);
//  - Wine reports a connection dropped before the announced Content-Length
//    as a normal end of the body: the backend counts the body bytes and
//    fails the read with 12030, as Windows does;
//  - Wine stops reading the response head at a header line it cannot parse
//    (":value", a line without a colon) and hands the rest of the head out
//    as the body, whatever the Content-Length says. Its raw head then ends
//    without the line break every complete head ends in; the backend fails
//    such a response with 12152 rather than deliver a wrong body;
//  - Wine refuses a status line without a reason phrase and without a blank
//    after the code ("HTTP/1.1 404") with 12152 before any of it can be
//    seen: not evened out;
//  - Wine writes the port into a proxied request's absolute URL when the
//    caller names port 80 ("http://host:80/..."); port 80 is passed as
//    INTERNET_DEFAULT_PORT, which both write as "http://host/...";
//  - Wine drops the referrer argument of WinHttpOpenRequest: the backend
//    adds the Referer header itself;
//  - Wine's WINHTTP_QUERY_RAW_HEADERS keeps CR LF between the lines; the
//    backend builds the NUL-separated form of the contract from
//    WINHTTP_QUERY_RAW_HEADERS_CRLF.
// Closing a session or connection before its requests is fine, as in
// WinHTTP.
//
// Unloading. The status callback is a function of this module, and WinHTTP
// calls it from its own threads, for as long as a handle it was set on is
// open and up to that handle's HANDLE_CLOSING. So the callback is set on
// request handles only (never on sessions or connections), and every such
// handle holds a reference to this module (GetModuleHandleExW on the
// callback's address) from before the callback is set until its
// HANDLE_CLOSING has been handled. A host's FreeLibrary therefore never
// unmaps the module while WinHTTP may still call it: the last reference
// goes when the last handle's HANDLE_CLOSING is done, and the module's
// detach runs then. That reference is not dropped on WinHTTP's thread,
// which would unmap the code it returns into: the callback hands it to a
// small thread of its own that calls FreeLibraryAndExitThread (which
// returns into no module code). The callback's last act is to start that
// thread, so all that is left of it then is its return, a few
// instructions, against the new thread's start plus the loader's whole
// detach of the module before anything is unmapped. When the thread cannot
// be started, the reference stays: the module stays loaded.
// A consequence: while a request handle is open, the module cannot be
// detached, so the closing waits (CLOSE_WAIT_MS) never run at
// DLL_PROCESS_DETACH, under the loader lock: at that point every request's
// handles have been closed and have said so.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <mutex>
#include <string>
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

// How long closing a request waits for WinHTTP's HANDLE_CLOSING
// notifications. Windows cancels the pending operation when the handle is
// closed and says so at once; Wine lets go only once an operation blocked
// in the socket ends by itself (its time-out), so the wait is kept well
// inside the stop's 0.5 s and the notification then releases the
// backend's record by itself.
constexpr DWORD CLOSE_WAIT_MS = 200;

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

// One WinHTTP request handle driven asynchronously: the completion that the
// owning thread awaits, and the buffers WinHTTP uses while an operation
// runs. Two references: the owner's (dropped by CloseAsync) and the
// handle's (dropped at HANDLE_CLOSING, the last notification WinHTTP sends
// for a handle). The completion fields are written by the status callback
// (any thread) and read by the owner, under m_mutex.
class CAsyncRequest {
 public:
  CAsyncRequest(HINTERNET request, HMODULE module)
      : m_hRequest(request), m_hModule(module), m_hEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  CAsyncRequest(const CAsyncRequest&) = delete;
  CAsyncRequest& operator=(const CAsyncRequest&) = delete;

  void Release() {
    if (m_nReferences.fetch_sub(1) == 1) delete this;
  }

  const HINTERNET m_hRequest;
  const HMODULE m_hModule;  // the handle's reference to this module (see the file comment)
  const HANDLE m_hEvent;  // manual reset: set at a completion and at HANDLE_CLOSING
  std::atomic<int> m_nReferences{2};
  std::mutex m_mutex;
  bool m_bDone = false;    // the running operation completed
  DWORD m_nError = 0;      // its error (REQUEST_ERROR), 0 for success
  DWORD m_nBytes = 0;      // DATA_AVAILABLE's count, READ_COMPLETE's length
  bool m_bClosed = false;  // HANDLE_CLOSING arrived
  std::vector<char> m_sendBody;    // the request body, until the send completes
  std::vector<char> m_readBuffer;  // where an asynchronous read lands

 private:
  ~CAsyncRequest() {
    if (m_hEvent != nullptr) ::CloseHandle(m_hEvent);
  }
};

// Runs on a thread of its own: drops a module reference that a handle held
// while WinHTTP could call into the module, and ends the thread without
// returning into the module.
DWORD WINAPI ReleaseModuleThread(LPVOID module) {
  ::FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
  return 0;  // not reached
}

// The status callback of every request handle (set in Adopt): records the
// completion of the running operation of the request whose context is a
// CAsyncRequest. At HANDLE_CLOSING it drops the handle's references, the
// module's last, off this thread.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
  auto* call = reinterpret_cast<CAsyncRequest*>(context);
  if (call == nullptr) return;
  HMODULE module = nullptr;
  bool closing = false;
  {
    std::lock_guard<std::mutex> lock(call->m_mutex);
    switch (status) {
      case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
        call->m_nError = 0;
        break;
      case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        call->m_nError = 0;
        call->m_nBytes = info != nullptr ? *static_cast<const DWORD*>(info) : 0;
        break;
      case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        call->m_nError = 0;
        call->m_nBytes = infoLength;
        break;
      case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        call->m_nError = result != nullptr && result->dwError != 0 ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
        break;
      }
      case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        call->m_bClosed = true;
        closing = true;
        module = call->m_hModule;
        break;
      default:
        return;
    }
    if (!closing) call->m_bDone = true;
    ::SetEvent(call->m_hEvent);
  }
  if (!closing) return;
  call->Release();
  HANDLE thread = module != nullptr ? ::CreateThread(nullptr, 0, &ReleaseModuleThread, module, 0, nullptr) : nullptr;
  if (thread != nullptr) ::CloseHandle(thread);
}

// A reference to this module for a handle WinHTTP will call back for;
// null when none can be had (the handle is then not made).
HMODULE ReferenceModule() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&OnStatus), &module))
    return nullptr;
  return module;
}

// Drops the reference of a handle whose HANDLE_CLOSING will never come, on
// a host's call: the host holds its own reference meanwhile, so this never
// unmaps the module.
void DropModuleReference(HMODULE module) {
  if (module != nullptr) ::FreeLibrary(module);
}

// Gives a new WinHTTP request handle its completion record, its module
// reference and the status callback. Null (the handle closed, the error
// set) when any of them cannot be attached.
CAsyncRequest* Adopt(HINTERNET request) {
  HMODULE module = ReferenceModule();
  auto* call = new CAsyncRequest(request, module);
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(call);
  if (module == nullptr || call->m_hEvent == nullptr ||
      !::WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) ||
      ::WinHttpSetStatusCallback(request, &OnStatus, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
          WINHTTP_INVALID_STATUS_CALLBACK) {
    const DWORD error = ::GetLastError();
    // Without the callback set, no HANDLE_CLOSING comes for it; with it set
    // the call above did not fail.
    ::WinHttpCloseHandle(request);
    call->Release();
    call->Release();
    DropModuleReference(module);
    ::SetLastError(error != 0 ? error : ERROR_WINHTTP_INTERNAL_ERROR);
    return nullptr;
  }
  return call;
}

// Closes the WinHTTP handle of `call`, which cancels its pending
// operation. The owner's reference is dropped by AwaitClosed.
void BeginClose(CAsyncRequest* call) {
  if (call == nullptr) return;
  if (!::WinHttpCloseHandle(call->m_hRequest)) {  // no HANDLE_CLOSING will come for it
    DropModuleReference(call->m_hModule);
    call->Release();
  }
}

// Waits until `deadline` (GetTickCount64) for the HANDLE_CLOSING of a
// handle BeginClose closed, then drops the owner's reference. The record
// lives on until WinHTTP lets go of it: Wine, for one, finishes a send or
// receive that is blocked in the socket before it lets go.
void AwaitClosed(CAsyncRequest* call, uint64_t deadline) {
  if (call == nullptr) return;
  bool closed = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(call->m_mutex);
      closed = call->m_bClosed;
      if (closed) break;
      ::ResetEvent(call->m_hEvent);
    }
    const uint64_t now = ::GetTickCount64();
    if (now >= deadline) break;
    ::WaitForSingleObject(call->m_hEvent, static_cast<DWORD>(deadline - now));
  }
  call->Release();
}

void CloseAsync(CAsyncRequest* call) {
  BeginClose(call);
  AwaitClosed(call, ::GetTickCount64() + CLOSE_WAIT_MS);
}

// One WinHttpSetOption call, kept to be made again on a redirect hop.
struct SOption {
  DWORD option = 0;
  std::vector<char> bytes;
};

// What a session was opened with, and the options set on it since: enough
// to open another session like it.
struct SSessionSettings {
  bool hasAgent = false;
  std::wstring agent;
  DWORD accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
  std::wstring proxy;  // "host:port" of a named proxy
  std::vector<SOption> options;
};

// What the backend keeps per request: the WinHTTP request(s) behind it,
// the body count, and what following a redirect by hand needs. The handle
// the caller holds is the address of this object.
struct CRequest {
  CAsyncRequest* original = nullptr;  // null once a stop closed it
  bool responded = false;             // ReceiveResponse succeeded
  bool lengthKnown = false;
  bool cancelled = false;  // the stop query said stop: every later wait fails
  uint64_t length = 0;
  uint64_t received = 0;
  uint64_t available = 0;  // bytes the last data-available query announced, not yet read
  bool announced = false;  // ReceiveResponse asked for the first bytes; not yet handed out
  // The trickle guard's window: bytes received since windowStartMs.
  uint64_t windowStartMs = 0;
  uint64_t windowBytes = 0;
  // Where the request went last, how it was made, and the hop that now
  // carries the response.
  std::shared_ptr<const SSessionSettings> session;  // null: not opened through Connect
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object;  // path and query of the last hop
  std::wstring verb;
  DWORD flags = 0;
  std::vector<std::pair<std::wstring, DWORD>> headers;  // AddRequestHeaders calls, to replay
  std::vector<SOption> options;                          // SetOption calls, to replay
  bool hasTimeouts = false;
  int timeouts[4] = {0, 0, 0, 0};  // the last SetTimeouts, to replay
  std::wstring sendHeaders;        // SendRequest's additional headers
  std::vector<char> body;          // SendRequest's body, for a 307 or 308 hop
  bool redirectsDisabled = false;
  HINTERNET hopSession = nullptr;  // the request's own session for its hops
  HINTERNET hopConnect = nullptr;
  CAsyncRequest* hop = nullptr;

  // The WinHTTP request that carries the response: the last redirect hop.
  CAsyncRequest* Active() const { return hop != nullptr ? hop : original; }
};

// What a connection handle was made for.
struct SConnectTarget {
  std::shared_ptr<const SSessionSettings> session;
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
bool ResolveRedirect(const CRequest& from, std::wstring location, SRedirectTarget& to) {
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

  // The caller's request behind `handle`, or null for any other handle
  // (which then goes to WinHTTP as it is, for WinHTTP's own answer).
  CRequest* Find(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_requests.find(handle);
    return it != m_requests.end() ? it->second.get() : nullptr;
  }

  // Ends the request for good: its WinHTTP handles are closed, which
  // cancels whatever WinHTTP still had pending on them.
  static void Cancel(CRequest& r) {
    r.cancelled = true;
    BeginClose(r.hop);
    BeginClose(r.original);
    const uint64_t deadline = ::GetTickCount64() + CLOSE_WAIT_MS;
    AwaitClosed(r.hop, deadline);
    AwaitClosed(r.original, deadline);
    r.hop = nullptr;
    r.original = nullptr;
    if (r.hopConnect != nullptr) ::WinHttpCloseHandle(r.hopConnect);
    r.hopConnect = nullptr;
    if (r.hopSession != nullptr) ::WinHttpCloseHandle(r.hopSession);
    r.hopSession = nullptr;
  }

  // Opens a session like the one `settings` describe, asynchronous and
  // with the options set on the original; null (the error set) on failure.
  static HINTERNET OpenLike(const SSessionSettings& settings) {
    HINTERNET session = Checked(::WinHttpOpen(settings.hasAgent ? settings.agent.c_str() : nullptr,
                                              settings.accessType,
                                              settings.proxy.empty() ? WINHTTP_NO_PROXY_NAME : settings.proxy.c_str(),
                                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (session != nullptr) ReplayOptions(session, settings.options);
    return session;
  }

  static void ReplayOptions(HINTERNET handle, const std::vector<SOption>& options) {
    for (const SOption& o : options)
      ::WinHttpSetOption(handle, o.option, const_cast<char*>(o.bytes.data()), static_cast<DWORD>(o.bytes.size()));
  }

  static SOption Recorded(DWORD option, const void* buffer, DWORD length) {
    SOption o;
    o.option = option;
    if (buffer != nullptr) o.bytes.assign(static_cast<const char*>(buffer), static_cast<const char*>(buffer) + length);
    return o;
  }

  // The time-outs of SetTimeouts on a WinHTTP request: 0 and -1 keep the
  // tuning's limits, as an unlimited wait would let a server hold the
  // host's thread forever.
  static bool ApplyTimeouts(HINTERNET request, const int asked[4]) {
    const HttpTransportTuning tuning = GetHttpTransportTuning();
    auto pick = [](int value, DWORD fallback) { return value > 0 ? value : static_cast<int>(fallback); };
    DWORD headLimit = static_cast<DWORD>(pick(asked[3], tuning.receiveTimeoutMs));
    ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headLimit, sizeof headLimit);
    return Checked(::WinHttpSetTimeouts(request, asked[0] > 0 ? asked[0] : 0, pick(asked[1], tuning.connectTimeoutMs),
                                        pick(asked[2], tuning.sendTimeoutMs),
                                        pick(asked[3], tuning.receiveTimeoutMs))) != FALSE;
  }

  // Asks the calling thread's stop query before a call that waits; once it
  // said stop, the request stays ended (12017) until it is closed.
  static bool StopRequested(CRequest& r) {
    if (!r.cancelled && IsStopQueryAnsweringStop()) Cancel(r);
    if (r.cancelled) ::SetLastError(ERROR_WINHTTP_OPERATION_CANCELLED);
    return r.cancelled;
  }

  // Runs one asynchronous WinHTTP operation of `call` to its end on the
  // calling thread: `start` begins it, the completion comes through
  // OnStatus. The wait is cut into STOP_POLL_INTERVAL_MS slices with the
  // stop query asked between them (when `askStop`); a "stop" ends the
  // request and the call fails with 12017. `*bytes` receives the
  // completion's count. WinHTTP's own time-outs end an operation that
  // never completes.
  template <typename Start>
  static bool Await(CRequest& r, CAsyncRequest* call, bool askStop, Start start, DWORD* bytes = nullptr) {
    {
      std::lock_guard<std::mutex> lock(call->m_mutex);
      call->m_bDone = false;
      call->m_nError = 0;
      call->m_nBytes = 0;
      ::ResetEvent(call->m_hEvent);
    }
    if (!start()) return Checked(FALSE) != FALSE;  // nothing started: no completion will come
    for (;;) {
      ::WaitForSingleObject(call->m_hEvent, STOP_POLL_INTERVAL_MS);
      {
        std::lock_guard<std::mutex> lock(call->m_mutex);
        if (call->m_bDone) {
          if (call->m_nError != 0) return Refuse(MapError(call->m_nError));
          if (bytes != nullptr) *bytes = call->m_nBytes;
          return true;
        }
        ::ResetEvent(call->m_hEvent);
      }
      if (askStop && IsStopQueryAnsweringStop()) {
        Cancel(r);  // `call` may be gone from here on
        return Refuse(ERROR_WINHTTP_OPERATION_CANCELLED);
      }
    }
  }

  static bool Send(CRequest& r, CAsyncRequest* call, const wchar_t* headers, DWORD headersLength, DWORD totalLength) {
    return Await(r, call, true, [&] {
      return ::WinHttpSendRequest(call->m_hRequest, headers != nullptr ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                                  headers != nullptr ? headersLength : 0,
                                  call->m_sendBody.empty() ? nullptr : call->m_sendBody.data(),
                                  static_cast<DWORD>(call->m_sendBody.size()), totalLength,
                                  reinterpret_cast<DWORD_PTR>(call));
    });
  }

  static bool Receive(CRequest& r, CAsyncRequest* call) {
    return Await(r, call, true, [&] { return ::WinHttpReceiveResponse(call->m_hRequest, nullptr); });
  }

  // Follows the redirects of a received response by hand: http -> https and
  // https -> https, at most the tuning's number of hops; https -> http and
  // every other scheme fail with ERROR_WINHTTP_REDIRECT_FAILED before
  // anything goes to the target. Each hop is a new WinHTTP request on the
  // request's own session (opened like the caller's at the first hop), so
  // an https hop through a named proxy is tunnelled (CONNECT) and verified,
  // which Wine does not do for the redirects it follows itself.
  static bool FollowRedirects(CRequest& r) {
    if (r.redirectsDisabled) return true;
    const DWORD maxHops = GetHttpTransportTuning().maxRedirects;
    for (DWORD hops = 0;; ++hops) {
      const HINTERNET current = r.Active()->m_hRequest;
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
      if (hops >= maxHops || !ResolveRedirect(r, location, target) || (r.secure && !target.secure) ||
          HasBreak(target.object.c_str()) || HasBreak(target.host.c_str()))
        return Refuse(ERROR_WINHTTP_REDIRECT_FAILED);
      if (StopRequested(r)) return false;
      // An explicit 443: Wine would write "CONNECT host:0" for the default
      // port. Port 80 as the default, for the reason Connect gives.
      const INTERNET_PORT port = target.port != 0 && !(target.port == 80 && !target.secure) ? target.port
                                 : target.secure ? INTERNET_DEFAULT_HTTPS_PORT
                                                 : INTERNET_DEFAULT_PORT;
      const bool resend = status == 307 || status == 308;
      const bool keepVerb = resend || (r.verb != L"POST" && status != 303);
      if (r.session == nullptr) return Refuse(ERROR_WINHTTP_REDIRECT_FAILED);
      if (r.hopSession == nullptr && (r.hopSession = OpenLike(*r.session)) == nullptr) return false;
      HINTERNET connect = Checked(::WinHttpConnect(r.hopSession, target.host.c_str(), port, 0));
      if (connect == nullptr) return false;
      // WinHTTP's escaping stays on for the Location target, as for the
      // redirects WinHTTP follows itself.
      HINTERNET next = Checked(::WinHttpOpenRequest(connect, keepVerb ? r.verb.c_str() : L"GET", target.object.c_str(),
                                                    nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    (r.flags & WINHTTP_FLAG_REFRESH) |
                                                        (target.secure ? WINHTTP_FLAG_SECURE : 0)));
      CAsyncRequest* call = next != nullptr ? Adopt(next) : nullptr;
      if (call == nullptr) {
        const DWORD error = ::GetLastError();
        ::WinHttpCloseHandle(connect);
        return Refuse(MapError(error));
      }
      Prepare(next);
      ReplayOptions(next, r.options);
      if (r.hasTimeouts) ApplyTimeouts(next, r.timeouts);
      for (const auto& line : r.headers)
        ::WinHttpAddRequestHeaders(next, line.first.c_str(), static_cast<DWORD>(line.first.size()), line.second);
      if (resend) call->m_sendBody = r.body;
      // The hop replaces the one before it, even when it fails: its error
      // is the response's.
      CloseAsync(r.hop);
      if (r.hopConnect != nullptr) ::WinHttpCloseHandle(r.hopConnect);
      r.hop = call;
      r.hopConnect = connect;
      r.secure = target.secure;
      r.host = target.host;
      r.port = target.port;
      r.object = target.object;
      const wchar_t* sendHeaders = r.sendHeaders.empty() ? nullptr : r.sendHeaders.c_str();
      if (!Send(r, call, sendHeaders, static_cast<DWORD>(r.sendHeaders.size()),
                static_cast<DWORD>(call->m_sendBody.size())) ||
          StopRequested(r) || !Receive(r, call))
        return false;
    }
  }

  // Whether WinHTTP read the response head to its end. Wine stops at a
  // header line it cannot parse (":value", no colon at all), leaves that
  // line last and unterminated in WINHTTP_QUERY_RAW_HEADERS_CRLF and hands
  // the rest of the head out as body bytes. A complete head ends in a line
  // break, or at least in a well-formed "Name: value" line.
  static bool HeadComplete(HINTERNET request) {
    DWORD bytes = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return true;  // nothing to judge by
    std::wstring crlf(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &crlf[0], &bytes,
                               WINHTTP_NO_HEADER_INDEX))
      return true;
    crlf.resize(bytes / sizeof(wchar_t));
    while (!crlf.empty() && crlf.back() == L'\0') crlf.pop_back();
    if (crlf.size() >= 2 && crlf.compare(crlf.size() - 2, 2, L"\r\n") == 0) return true;
    const size_t lineBreak = crlf.rfind(L"\r\n");
    if (lineBreak == std::wstring::npos) return true;  // the status line alone
    const size_t colon = crlf.find(L':', lineBreak + 2);
    return colon != std::wstring::npos && colon > lineBreak + 2;
  }

  // The trickle guard, checked as body bytes arrive: fewer than the
  // tuning's rate over its window ends the body with ERROR_WINHTTP_TIMEOUT.
  // WinHTTP has no such guard; a server that sends nothing at all is left
  // to the receive time-out.
  static bool Trickling(CRequest& r, DWORD bytes) {
    const HttpTransportTuning tuning = GetHttpTransportTuning();
    if (tuning.lowSpeedSeconds == 0) return false;
    const uint64_t now = ::GetTickCount64();
    r.windowBytes += bytes;
    const uint64_t windowMs = static_cast<uint64_t>(tuning.lowSpeedSeconds) * 1000;
    if (now - r.windowStartMs < windowMs) return false;
    const uint64_t wanted = static_cast<uint64_t>(tuning.lowSpeedBytesPerSecond) * tuning.lowSpeedSeconds;
    if (r.windowBytes < wanted) {
      ::SetLastError(ERROR_WINHTTP_TIMEOUT);
      return true;
    }
    r.windowStartMs = now;
    r.windowBytes = 0;
    return false;
  }

  // The NUL-separated raw head from WinHTTP's CR LF form.
  static bool RawHeaders(HINTERNET request, void* buffer, DWORD* bufferLength) {
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
    HINTERNET session = Checked(::WinHttpOpen(agent, accessType,
                                              proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(),
                                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (session == nullptr) return nullptr;
    // No status callback on the session: requests get theirs in Adopt
    // (see the file comment on unloading).
    auto settings = std::make_shared<SSessionSettings>();
    settings->hasAgent = agent != nullptr;
    if (agent != nullptr) settings->agent = agent;
    settings->accessType = accessType;
    settings->proxy = proxy;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions[session] = std::move(settings);
    return session;
  }

  HINTERNET Connect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port) override {
    if (serverName == nullptr || *serverName == L'\0' || HasBreak(serverName))
      return Refuse(ERROR_WINHTTP_INVALID_URL), nullptr;
    if (port == INTERNET_DEFAULT_HTTP_PORT) port = INTERNET_DEFAULT_PORT;
    HINTERNET connect = Checked(::WinHttpConnect(session, serverName, port, 0));
    if (connect != nullptr) {
      // A copy of the session's settings as they are now: the session may
      // be closed before the requests are made.
      std::lock_guard<std::mutex> lock(m_mutex);
      auto settings = m_sessions.find(session);
      m_connects[connect] = SConnectTarget{
          settings != m_sessions.end() ? std::make_shared<const SSessionSettings>(*settings->second) : nullptr,
          serverName, port};
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
    HINTERNET handle = Checked(::WinHttpOpenRequest(connect, verb, object.c_str(), nullptr,
                                                    referrer != nullptr ? referrer : WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    (flags & WINHTTP_FLAG_REFRESH) | WINHTTP_FLAG_ESCAPE_DISABLE));
    if (handle == nullptr) return nullptr;
    CAsyncRequest* call = Adopt(handle);
    if (call == nullptr) return Refuse(MapError(::GetLastError())), nullptr;
    std::unique_ptr<CRequest> request(new CRequest());
    request->original = call;
    if (referrer != nullptr && *referrer != L'\0') {
      const std::wstring line = std::wstring(L"Referer: ") + referrer;
      ::WinHttpAddRequestHeaders(handle, line.c_str(), static_cast<DWORD>(line.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
      request->headers.emplace_back(line, WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    request->object = object;
    request->verb = verb != nullptr ? verb : L"GET";
    request->flags = flags;
    Prepare(handle);
    CRequest* result = request.get();
    std::lock_guard<std::mutex> lock(m_mutex);
    auto target = m_connects.find(connect);
    if (target != m_connects.end()) {
      result->session = target->second.session;
      result->host = target->second.host;
      result->port = target->second.port;
    }
    m_requests[result] = std::move(request);
    return result;
  }

  bool SetTimeouts(HINTERNET handle, int resolveTimeout, int connectTimeout, int sendTimeout,
                   int receiveTimeout) override {
    if (resolveTimeout < -1 || connectTimeout < -1 || sendTimeout < -1 || receiveTimeout < -1)
      return Refuse(ERROR_INVALID_PARAMETER);
    const int asked[4] = {resolveTimeout, connectTimeout, sendTimeout, receiveTimeout};
    CRequest* r = Find(handle);
    if (r == nullptr) return ApplyTimeouts(handle, asked);
    if (r->original == nullptr) return Refuse(ERROR_WINHTTP_OPERATION_CANCELLED);
    if (!ApplyTimeouts(r->original->m_hRequest, asked)) return false;
    r->hasTimeouts = true;
    std::copy(asked, asked + 4, r->timeouts);
    return true;
  }

  bool AddRequestHeaders(HINTERNET handle, const wchar_t* headers, DWORD length, DWORD modifiers) override {
    if (headers == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
    std::wstring text = length == WINHTTP_HEADERS_LENGTH_TERMINATED ? std::wstring(headers)
                                                                     : std::wstring(headers, length);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0) text.resize(text.size() - 2);
    if (HasBreak(text.data(), text.size()) || text.find(L':') == std::wstring::npos || text[0] == L':')
      return Refuse(ERROR_WINHTTP_INVALID_HEADER);
    CRequest* r = Find(handle);
    if (r == nullptr)
      return Checked(::WinHttpAddRequestHeaders(handle, text.c_str(), static_cast<DWORD>(text.size()), modifiers)) !=
             FALSE;
    if (r->original == nullptr) return Refuse(ERROR_WINHTTP_OPERATION_CANCELLED);
    if (!Checked(::WinHttpAddRequestHeaders(r->original->m_hRequest, text.c_str(), static_cast<DWORD>(text.size()),
                                            modifiers)))
      return false;
    r->headers.emplace_back(text, modifiers);
    return true;
  }

  bool SetOption(HINTERNET handle, DWORD option, const void* buffer, DWORD length) override {
    CRequest* r = Find(handle);
    if (r == nullptr) {
      if (!Checked(::WinHttpSetOption(handle, option, const_cast<void*>(buffer), length))) return false;
      std::lock_guard<std::mutex> lock(m_mutex);
      auto session = m_sessions.find(handle);
      if (session != m_sessions.end()) session->second->options.push_back(Recorded(option, buffer, length));
      return true;
    }
    if (r->original == nullptr) return Refuse(ERROR_WINHTTP_OPERATION_CANCELLED);
    // The context value carries the backend's completion record; the seam
    // has no callbacks, so a caller's value would never be seen anyway.
    if (option == WINHTTP_OPTION_CONTEXT_VALUE) return true;
    // Redirects are always off in WinHTTP here (Prepare); the caller's
    // choice is kept for FollowRedirects.
    if (option == WINHTTP_OPTION_DISABLE_FEATURE && buffer != nullptr && length >= sizeof(DWORD) &&
        (*static_cast<const DWORD*>(buffer) & WINHTTP_DISABLE_REDIRECTS) != 0)
      r->redirectsDisabled = true;
    if (!Checked(::WinHttpSetOption(r->original->m_hRequest, option, const_cast<void*>(buffer), length))) return false;
    r->options.push_back(Recorded(option, buffer, length));
    return true;
  }

  bool SendRequest(HINTERNET handle, const wchar_t* headers, DWORD headersLength, const void* optional,
                   DWORD optionalLength, DWORD totalLength, uintptr_t context) override {
    if (headers != nullptr && headersLength != 0) {
      const size_t n = headersLength == WINHTTP_HEADERS_LENGTH_TERMINATED ? std::wcslen(headers) : headersLength;
      std::wstring text(headers, n);
      if (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0) text.resize(text.size() - 2);
      if (HasBreak(text.data(), text.size())) return Refuse(ERROR_WINHTTP_INVALID_HEADER);
    }
    if (optional == nullptr && optionalLength != 0) return Refuse(ERROR_INVALID_PARAMETER);
    CRequest* r = Find(handle);
    if (r == nullptr)  // not a request of this backend: WinHTTP gives its error
      return Checked(::WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, context)) != FALSE;
    if (StopRequested(*r)) return false;
    CAsyncRequest* call = r->original;
    // WinHTTP reads the body while the send runs, possibly after a stop
    // ended this call: it sends the backend's copy.
    const char* bytes = static_cast<const char*>(optional);
    call->m_sendBody.assign(bytes, bytes + optionalLength);
    r->body = call->m_sendBody;
    r->sendHeaders.clear();
    if (headers != nullptr && headersLength != 0)
      r->sendHeaders = headersLength == WINHTTP_HEADERS_LENGTH_TERMINATED ? std::wstring(headers)
                                                                          : std::wstring(headers, headersLength);
    return Send(*r, call, headers, headersLength, totalLength);
  }

  bool ReceiveResponse(HINTERNET handle) override {
    CRequest* r = Find(handle);
    if (r == nullptr) return Checked(::WinHttpReceiveResponse(handle, nullptr)) != FALSE;
    if (StopRequested(*r)) return false;
    if (!Receive(*r, r->original) || !FollowRedirects(*r)) return false;
    const HINTERNET active = r->Active()->m_hRequest;
    if (!HeadComplete(active)) return Refuse(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    r->original->m_sendBody.clear();
    DWORD length = 0;
    DWORD size = sizeof length;
    r->lengthKnown = ::WinHttpQueryHeaders(active, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                           WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX);
    r->length = length;
    r->received = 0;
    r->windowStartMs = ::GetTickCount64();
    r->windowBytes = 0;
    // As with every backend, the response is there once its head is and
    // the body has begun (or ended): a server that sends a head and then
    // nothing keeps this call waiting, stoppable, until the receive limit.
    CAsyncRequest* call = r->Active();
    DWORD count = 0;
    if (!Await(*r, call, true, [&] { return ::WinHttpQueryDataAvailable(call->m_hRequest, nullptr); }, &count))
      return false;
    r->available = count;
    r->announced = true;
    r->responded = true;
    return true;
  }

  bool QueryHeaders(HINTERNET handle, DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* bufferLength,
                    DWORD* index) override {
    if (bufferLength == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
    HINTERNET request = handle;
    if (CRequest* r = Find(handle)) {
      if (r->Active() == nullptr) return Refuse(ERROR_WINHTTP_OPERATION_CANCELLED);
      request = r->Active()->m_hRequest;
    }
    if (infoLevel == WINHTTP_QUERY_RAW_HEADERS) return RawHeaders(request, buffer, bufferLength);
    return Checked(::WinHttpQueryHeaders(request, infoLevel, name != nullptr ? name : WINHTTP_HEADER_NAME_BY_INDEX,
                                         buffer, bufferLength, index)) != FALSE;
  }

  bool QueryDataAvailable(HINTERNET handle, DWORD* available) override {
    if (available == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
    CRequest* r = Find(handle);
    if (r == nullptr) return Checked(::WinHttpQueryDataAvailable(handle, available)) != FALSE;
    if (r->cancelled) return Refuse(ERROR_WINHTTP_OPERATION_CANCELLED);
    // Wine answers before the response has been received; Windows refuses.
    if (!r->responded) return Refuse(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    DWORD count = 0;
    if (r->announced) {
      count = static_cast<DWORD>(r->available);  // what ReceiveResponse found, not read yet
    } else {
      if (StopRequested(*r)) return false;
      CAsyncRequest* call = r->Active();
      if (!Await(*r, call, true, [&] { return ::WinHttpQueryDataAvailable(call->m_hRequest, nullptr); }, &count))
        return false;
    }
    r->announced = false;
    if (count == 0 && r->lengthKnown && r->received < r->length)
      return Refuse(ERROR_WINHTTP_CONNECTION_ERROR);  // the body ended early
    r->available = count;
    *available = count;
    return true;
  }

  bool ReadData(HINTERNET handle, void* buffer, DWORD toRead, DWORD* read) override {
    if (read == nullptr || (buffer == nullptr && toRead > 0)) return Refuse(ERROR_INVALID_PARAMETER);
    CRequest* r = Find(handle);
    if (r == nullptr) return Checked(::WinHttpReadData(handle, buffer, toRead, read)) != FALSE;
    if (r->cancelled) return Refuse(ERROR_WINHTTP_OPERATION_CANCELLED);
    if (!r->responded) return Refuse(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    *read = 0;
    if (toRead == 0) return true;
    // Bytes the last data-available query announced are there already:
    // reading them does not wait on the network, so the stop query is
    // left for the next call that does.
    const bool waits = toRead > r->available;
    if (waits && StopRequested(*r)) return false;
    CAsyncRequest* call = r->Active();
    call->m_readBuffer.resize(toRead);
    DWORD count = 0;
    if (!Await(*r, call, waits,
               [&] { return ::WinHttpReadData(call->m_hRequest, call->m_readBuffer.data(), toRead, nullptr); },
               &count))
      return false;
    if (count > toRead) count = toRead;
    std::memcpy(buffer, call->m_readBuffer.data(), count);
    *read = count;
    r->available -= count < r->available ? count : r->available;
    r->announced = false;
    r->received += count;
    return count == 0 || !Trickling(*r, count);
  }

  bool CloseHandle(HINTERNET handle) override {
    std::unique_ptr<CRequest> request;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_requests.find(handle);
      if (it != m_requests.end()) {
        request = std::move(it->second);
        m_requests.erase(it);
      } else {
        m_connects.erase(handle);
        m_sessions.erase(handle);
      }
    }
    if (request == nullptr) return Checked(::WinHttpCloseHandle(handle)) != FALSE;
    Cancel(*request);  // a request that a stop ended is closed already
    return true;
  }

 private:
  std::mutex m_mutex;  // guards m_requests, m_connects and m_sessions
  std::unordered_map<HINTERNET, std::unique_ptr<CRequest>> m_requests;
  std::unordered_map<HINTERNET, SConnectTarget> m_connects;
  std::unordered_map<HINTERNET, std::shared_ptr<SSessionSettings>> m_sessions;
};

}  // namespace

IHttpTransport& SystemHttpTransport() {
  static NoDestructor<CWinHttpTransport> s_instance;
  return *s_instance.get();
}

}  // namespace platform

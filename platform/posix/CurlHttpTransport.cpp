// posix backend of platform/HttpTransport.h on libcurl.
//
// Each request owns one easy handle in a multi handle of its own, so the
// calls can drive the transfer step by step: SendRequest runs it until the
// request head is on the wire, ReceiveResponse until the final response head
// is complete and the body has begun (or the transfer ended), and
// QueryDataAvailable / ReadData until the next chunk of the body has
// arrived. Body bytes wait in the request's buffer between the calls; the
// transfer is driven only while that buffer is empty.
//
// Waiting happens only in Drive, on the calling thread: it polls the multi
// handle for at most STOP_POLL_INTERVAL_MS at a time and asks the thread's
// stop query between the polls, so a stop ends the call in every phase.
// libcurl's own threads (the resolver) never see the query.
//
// Redirects are libcurl's, limited to http and https; the pre-request hook
// refuses the step from https back to http before a byte of it is sent.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
#include "platform/HttpTransportTesting.h"
#include "platform/NoDestructor.h"
#include "platform/Path.h"
#include "platform/posix/CurlErrorMap.h"
#include "platform/ProxyText.h"

namespace platform {
namespace {

// The most the body buffer is sized for in advance from a Content-Length.
constexpr curl_off_t BODY_RESERVE_LIMIT = 16 << 20;

typedef std::chrono::steady_clock Clock;

enum class HandleKind { Session, Connection, Request };

struct CHandle {
  explicit CHandle(HandleKind k) : kind(k) {}
  virtual ~CHandle() = default;
  HandleKind kind;
};

struct CSessionHandle : CHandle {
  CSessionHandle() : CHandle(HandleKind::Session) {}
  std::string agent;
  DWORD accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  std::string proxy;  // "http://host:port" for a named proxy
};

struct CConnectHandle : CHandle {
  CConnectHandle() : CHandle(HandleKind::Connection) {}
  CSessionHandle session;  // a copy: the connection outlives nothing it needs
  std::string host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
};

struct CRequestHandle : CHandle {
  CRequestHandle() : CHandle(HandleKind::Request) {}
  ~CRequestHandle() override {
    if (multi != nullptr && easy != nullptr) curl_multi_remove_handle(multi, easy);
    if (easy != nullptr) curl_easy_cleanup(easy);
    if (multi != nullptr) curl_multi_cleanup(multi);
    if (headerList != nullptr) curl_slist_free_all(headerList);
  }

  // Set-up.
  CConnectHandle connection;
  std::string verb;
  std::string target;  // encoded, begins with "/"
  std::string referrer;
  DWORD flags = 0;
  std::vector<std::string> headerLines;  // "Name: value"
  DWORD connectTimeoutMs = 0;            // 0: the tuning's default
  DWORD sendTimeoutMs = 0;
  DWORD receiveTimeoutMs = 0;
  DWORD disabledFeatures = 0;
  std::string requestBody;

  // Transfer.
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headerList = nullptr;
  bool sent = false;          // SendRequest succeeded
  bool requestOut = false;    // the request head went out
  bool headSeen = false;      // some response status line arrived
  bool headComplete = false;  // the current head ended with its blank line
  bool headRedirects = false;  // ... and it is a redirect that libcurl follows
  bool received = false;      // ReceiveResponse succeeded
  std::vector<std::string> head;  // lines of the current (finally: the final) head
  std::string body;
  size_t bodyPos = 0;
  bool bodyReserved = false;  // the buffer has been sized from Content-Length once
  IHttpBodySink* sink = nullptr;  // during ReadBody: takes the bytes instead of `body`
  bool sinkRefused = false;
  bool done = false;
  DWORD error = 0;
  bool wentSecure = false;       // some hop of this request was https
  bool redirectRefused = false;  // a hop from https back to http was stopped
  Clock::time_point sendStart;
  Clock::time_point lastActivity;
  char errorText[CURL_ERROR_SIZE] = {};

  size_t Buffered() const { return body.size() - bodyPos; }
};

std::mutex& RegistryMutex() {
  static NoDestructor<std::mutex> s_mutex;
  return *s_mutex.get();
}
std::unordered_set<CHandle*>& Registry() {
  static NoDestructor<std::unordered_set<CHandle*>> s_set;
  return *s_set.get();
}

HINTERNET Register(CHandle* h) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().insert(h);
  return h;
}

template <typename T>
T* Lookup(HINTERNET handle, HandleKind kind) {
  CHandle* h = static_cast<CHandle*>(handle);
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (h == nullptr || Registry().count(h) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  if (h->kind != kind) {
    SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return static_cast<T*>(h);
}

void GlobalInit() {
  static std::once_flag s_once;
  std::call_once(s_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string ToUtf8(const wchar_t* text) { return text == nullptr ? std::string() : ToNativePath(text); }

std::wstring Latin1ToWide(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) out += static_cast<wchar_t>(c);
  return out;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool IsTokenChar(unsigned char c) {
  return c > 0x20 && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::mutex& ExtraCaMutex() {
  static NoDestructor<std::mutex> s_mutex;
  return *s_mutex.get();
}
std::string& ExtraCaFile() {
  static NoDestructor<std::string> s_file;
  return *s_file.get();
}

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix)
    if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
  return true;
}

// --- libcurl callbacks -------------------------------------------------------

// libcurl follows 301, 302, 303, 307 and 308 when they carry a Location and
// redirects are not disabled.
bool IsFollowedRedirect(const CRequestHandle& r) {
  if ((r.disabledFeatures & WINHTTP_DISABLE_REDIRECTS) != 0 || r.head.empty()) return false;
  const std::string& status = r.head.front();
  size_t sp = status.find(' ');
  std::string code = sp == std::string::npos ? std::string() : status.substr(sp + 1, 3);
  if (code != "301" && code != "302" && code != "303" && code != "307" && code != "308") return false;
  for (size_t i = 1; i < r.head.size(); ++i) {
    size_t colon = r.head[i].find(':');
    if (colon != std::string::npos && EqualsNoCase(Trim(r.head[i].substr(0, colon)), "Location")) return true;
  }
  return false;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  CRequestHandle& r = *static_cast<CRequestHandle*>(user);
  size_t n = size * count;
  std::string line(data, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  r.lastActivity = Clock::now();
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new response: a redirect or an interim head came before it.
    r.head.clear();
    r.headComplete = false;
    r.headSeen = true;
  }
  if (line.empty()) {
    if (!r.head.empty()) {
      r.headComplete = true;
      r.headRedirects = IsFollowedRedirect(r);
    }
    return n;
  }
  if (!r.headComplete) r.head.push_back(line);
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  CRequestHandle& r = *static_cast<CRequestHandle*>(user);
  size_t n = size * count;
  if (r.sink != nullptr) {
    // Straight on from libcurl's buffer (a chunk is at most
    // CURL_MAX_WRITE_SIZE, far below a DWORD); 0 makes libcurl end the
    // transfer.
    r.lastActivity = Clock::now();
    if (n > 0 && !r.sink->OnBodyChunk(data, static_cast<DWORD>(n))) {
      r.sinkRefused = true;
      return 0;
    }
    return n;
  }
  if (r.bodyPos == r.body.size()) {
    r.body.clear();
    r.bodyPos = 0;
  }
  if (r.body.capacity() - r.body.size() < n && !r.bodyReserved && !r.body.empty()) {
    // libcurl may hand over a whole announced body in one drive: one block
    // for it (within reason) spares copying it at every growth step. Not
    // for the first chunk alone: the one that ends ReceiveResponse is
    // usually all that waits here before ReadBody takes the rest.
    r.bodyReserved = true;
    curl_off_t announced = -1;
    if (r.easy != nullptr && curl_easy_getinfo(r.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced > 0)
      r.body.reserve(static_cast<size_t>(std::min<curl_off_t>(announced, BODY_RESERVE_LIMIT)));
  }
  r.body.append(data, n);
  r.lastActivity = Clock::now();
  return n;
}

int OnDebug(CURL*, curl_infotype type, char*, size_t, void* user) {
  CRequestHandle& r = *static_cast<CRequestHandle*>(user);
  if (type == CURLINFO_HEADER_OUT) {
    r.requestOut = true;
    r.lastActivity = Clock::now();
  }
  return 0;
}

// Called before every request of the transfer goes out, redirects included,
// once the connection for it stands. Refuses the step from https to http.
int OnPrerequest(void* user, char*, char*, int, int) {
  CRequestHandle& r = *static_cast<CRequestHandle*>(user);
  r.lastActivity = Clock::now();
  char* url = nullptr;
  curl_easy_getinfo(r.easy, CURLINFO_EFFECTIVE_URL, &url);
  const bool secure = url != nullptr && StartsWithNoCase(url, "https:");
  if (r.wentSecure && !secure) {
    r.redirectRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  r.wentSecure = r.wentSecure || secure;
  return CURL_PREREQFUNC_OK;
}

// --- driving the transfer ----------------------------------------------------

void Finish(CRequestHandle& r, DWORD error) {
  if (r.done) return;
  r.done = true;
  r.error = error;
  if (r.multi != nullptr && r.easy != nullptr) curl_multi_remove_handle(r.multi, r.easy);
}

// Runs the transfer until `until` holds or the transfer has ended. A stall
// (nothing sent before the connect and send limits, nothing received for
// the receive limit) ends it with ERROR_WINHTTP_TIMEOUT; the calling
// thread's stop query, asked before every wait, ends it with
// ERROR_WINHTTP_OPERATION_CANCELLED.
void Drive(CRequestHandle& r, const std::function<bool()>& until) {
  const HttpTransportTuning tuning = GetHttpTransportTuning();
  const auto sendLimit = std::chrono::milliseconds(
      static_cast<int64_t>(r.connectTimeoutMs != 0 ? r.connectTimeoutMs : tuning.connectTimeoutMs) +
      static_cast<int64_t>(r.sendTimeoutMs != 0 ? r.sendTimeoutMs : tuning.sendTimeoutMs));
  const auto receiveLimit =
      std::chrono::milliseconds(r.receiveTimeoutMs != 0 ? r.receiveTimeoutMs : tuning.receiveTimeoutMs);
  while (!r.done && !until()) {
    if (IsStopQueryAnsweringStop()) {
      Finish(r, ERROR_WINHTTP_OPERATION_CANCELLED);
      break;
    }
    int running = 0;
    CURLMcode mc = curl_multi_perform(r.multi, &running);
    if (mc != CURLM_OK) {
      Finish(r, mc == CURLM_OUT_OF_MEMORY ? ERROR_NOT_ENOUGH_MEMORY : ERROR_WINHTTP_INTERNAL_ERROR);
      break;
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(r.multi, &left)) {
      if (msg->msg == CURLMSG_DONE)
        Finish(r, r.redirectRefused ? ERROR_WINHTTP_REDIRECT_FAILED : WinHttpErrorFromCurl(msg->data.result, r.headSeen));
    }
    if (r.done || until()) break;
    auto now = Clock::now();
    if ((!r.requestOut && now - r.sendStart > sendLimit) || (r.requestOut && now - r.lastActivity > receiveLimit)) {
      Finish(r, ERROR_WINHTTP_TIMEOUT);
      break;
    }
    curl_multi_poll(r.multi, nullptr, 0, static_cast<int>(STOP_POLL_INTERVAL_MS), nullptr);
  }
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

// --- the transport -----------------------------------------------------------

class CCurlHttpTransport : public IHttpTransport {
 public:
  HINTERNET Open(const wchar_t* agent, DWORD accessType, const wchar_t* proxyName) override {
    GlobalInit();
    // The agent becomes a header line; a line break in it would split the request.
    if (agent != nullptr && HasLineBreakOrNul(agent)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    auto* s = new CSessionHandle();
    s->agent = ToUtf8(agent);
    s->accessType = accessType;
    if (accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      // A proxy that cannot be parsed fails the session: the caller asked
      // for that proxy, and traffic must never go around it.
      std::wstring wide = proxyName != nullptr ? proxyName : L"";
      if (HasLineBreakOrNul(wide) || !ParseNamedProxy(ToUtf8(wide.c_str()), s->proxy)) {
        delete s;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
    } else if (accessType != WINHTTP_ACCESS_TYPE_DEFAULT_PROXY && accessType != WINHTTP_ACCESS_TYPE_NO_PROXY) {
      delete s;
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    return Register(s);
  }

  HINTERNET Connect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port) override {
    auto* s = Lookup<CSessionHandle>(session, HandleKind::Session);
    if (s == nullptr) return nullptr;
    std::string host = ToUtf8(serverName);
    bool bad = host.empty();
    for (unsigned char c : host)
      bad = bad || c <= 0x20 || c == 0x7F || std::strchr("/?#@\\\"<>^`{|}%", c) != nullptr;
    if (bad) {
      SetLastError(ERROR_WINHTTP_INVALID_URL);
      return nullptr;
    }
    auto* c = new CConnectHandle();
    c->session = *s;
    c->host = host;
    c->port = port == INTERNET_DEFAULT_PORT ? INTERNET_DEFAULT_HTTP_PORT : port;
    return Register(c);
  }

  HINTERNET OpenRequest(HINTERNET connect, const wchar_t* verb, const wchar_t* objectName, const wchar_t* referrer,
                        DWORD flags) override {
    auto* c = Lookup<CConnectHandle>(connect, HandleKind::Connection);
    if (c == nullptr) return nullptr;
    std::string method = verb == nullptr || *verb == L'\0' ? std::string("GET") : ToUtf8(verb);
    for (unsigned char ch : method)
      if (!IsTokenChar(ch)) return SetLastError(ERROR_INVALID_PARAMETER), nullptr;
    std::wstring object = objectName != nullptr ? objectName : L"";
    if (HasLineBreakOrNul(object)) return SetLastError(ERROR_WINHTTP_INVALID_URL), nullptr;
    std::wstring ref = referrer != nullptr ? referrer : L"";
    if (HasLineBreakOrNul(ref)) return SetLastError(ERROR_INVALID_PARAMETER), nullptr;
    auto* r = new CRequestHandle();
    r->connection = *c;
    r->verb = method;
    std::string path = ToUtf8(object.c_str());
    if (!path.empty() && path[0] == '/') path.erase(0, 1);
    r->target = "/" + EncodeRequestTarget(path);
    r->referrer = ToUtf8(ref.c_str());
    r->flags = flags;
    return Register(r);
  }

  bool SetTimeouts(HINTERNET request, int resolveTimeout, int connectTimeout, int sendTimeout,
                   int receiveTimeout) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return false;
    if (resolveTimeout < -1 || connectTimeout < -1 || sendTimeout < -1 || receiveTimeout < -1)
      return Fail(ERROR_INVALID_PARAMETER);
    // 0 and -1 keep the defaults: an unlimited wait would let a server hold
    // the host's thread forever.
    r->connectTimeoutMs = connectTimeout > 0 ? static_cast<DWORD>(connectTimeout) : 0;
    r->sendTimeoutMs = sendTimeout > 0 ? static_cast<DWORD>(sendTimeout) : 0;
    r->receiveTimeoutMs = receiveTimeout > 0 ? static_cast<DWORD>(receiveTimeout) : 0;
    return true;
  }

  bool AddRequestHeaders(HINTERNET request, const wchar_t* headers, DWORD length, DWORD modifiers) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return false;
    if (headers == nullptr || r->sent) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring text = length == WINHTTP_HEADERS_LENGTH_TERMINATED ? std::wstring(headers)
                                                                     : std::wstring(headers, length);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0) text.resize(text.size() - 2);
    if (HasLineBreakOrNul(text)) return Fail(ERROR_WINHTTP_INVALID_HEADER);
    std::string line = ToUtf8(text.c_str());
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return Fail(ERROR_WINHTTP_INVALID_HEADER);
    std::string name = line.substr(0, colon);
    for (unsigned char c : name)
      if (!IsTokenChar(c)) return Fail(ERROR_WINHTTP_INVALID_HEADER);
    std::string value = Trim(line.substr(colon + 1));
    for (unsigned char c : value)
      if ((c < 0x20 && c != '\t') || c == 0x7F) return Fail(ERROR_WINHTTP_INVALID_HEADER);

    auto same = [&](const std::string& existing) {
      size_t p = existing.find(':');
      return EqualsNoCase(existing.substr(0, p), name);
    };
    bool replace = (modifiers & WINHTTP_ADDREQ_FLAG_REPLACE) != 0;
    bool add = (modifiers & WINHTTP_ADDREQ_FLAG_ADD) != 0 || !replace;
    auto found = std::find_if(r->headerLines.begin(), r->headerLines.end(), same);
    if (replace) {
      if (found == r->headerLines.end() && !add) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
      r->headerLines.erase(std::remove_if(r->headerLines.begin(), r->headerLines.end(), same),
                           r->headerLines.end());
      if (value.empty()) return true;  // REPLACE with an empty value removes the header
    }
    r->headerLines.push_back(name + ": " + value);
    return true;
  }

  bool SetOption(HINTERNET request, DWORD option, const void* buffer, DWORD length) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return false;
    if (option != WINHTTP_OPTION_DISABLE_FEATURE) return Fail(ERROR_WINHTTP_INVALID_OPTION);
    if (buffer == nullptr || length != sizeof(DWORD)) return Fail(ERROR_INVALID_PARAMETER);
    DWORD mask;
    std::memcpy(&mask, buffer, sizeof mask);
    r->disabledFeatures |= mask;
    return true;
  }

  bool SendRequest(HINTERNET request, const wchar_t* headers, DWORD headersLength, const void* optional,
                   DWORD optionalLength, DWORD /*totalLength*/, uintptr_t /*context*/) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return false;
    if (r->sent) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (headers != nullptr && headersLength != 0 &&
        !AddRequestHeaders(request, headers, headersLength, WINHTTP_ADDREQ_FLAG_ADD))
      return false;
    if (optional != nullptr && optionalLength > 0)
      r->requestBody.assign(static_cast<const char*>(optional), optionalLength);
    if (!Start(*r)) return false;
    r->sent = true;
    Drive(*r, [r] { return r->requestOut; });
    if (r->done && (!r->requestOut || r->error == ERROR_WINHTTP_OPERATION_CANCELLED))
      return Fail(r->error != 0 ? r->error : ERROR_WINHTTP_CONNECTION_ERROR);
    // The debug callback was only needed to see the head go out; without
    // it libcurl stops formatting its informational texts and calling back
    // for every chunk of the body. Later hops of a redirect renew the
    // activity time in the pre-request hook instead.
    curl_easy_setopt(r->easy, CURLOPT_VERBOSE, 0L);
    return true;
  }

  bool ReceiveResponse(HINTERNET request) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return false;
    if (!r->sent) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (r->received) return true;
    Drive(*r, [r] { return r->headComplete && r->Buffered() > 0; });
    if (r->error == ERROR_WINHTTP_OPERATION_CANCELLED) return Fail(r->error);
    // A redirect whose next hop failed (refused, too many, certificate,
    // connection) is no final response: the call fails with that hop's code.
    if (r->headComplete && r->headRedirects && r->done && r->error != 0) return Fail(r->error);
    if (!r->headComplete) {
      if (r->done && r->error != 0) return Fail(r->error);
      return Fail(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    }
    r->received = true;
    return true;
  }

  bool QueryHeaders(HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* bufferLength,
                    DWORD* /*index*/) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return false;
    if (!r->received) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (bufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring text;
    if (!HeadText(*r, infoLevel & 0xFFFF, name, text)) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
    if ((infoLevel & WINHTTP_QUERY_FLAG_NUMBER) != 0) {
      uint64_t value = 0;
      size_t i = 0;
      while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
      size_t digits = 0;
      for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i, ++digits)
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(text[i] - L'0'), 0xFFFFFFFFull);
      if (digits == 0) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
      if (buffer == nullptr || *bufferLength < sizeof(DWORD)) {
        *bufferLength = sizeof(DWORD);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      }
      DWORD number = static_cast<DWORD>(value);
      std::memcpy(buffer, &number, sizeof number);
      *bufferLength = sizeof(DWORD);
      return true;
    }
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    if (buffer == nullptr || *bufferLength < needed) {
      *bufferLength = needed;
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), needed);
    *bufferLength = needed - static_cast<DWORD>(sizeof(wchar_t));
    return true;
  }

  bool QueryDataAvailable(HINTERNET request, DWORD* available) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return false;
    if (!r->received) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (available == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    Drive(*r, [r] { return r->Buffered() > 0; });
    if ((r->Buffered() == 0 && r->error != 0) || r->error == ERROR_WINHTTP_OPERATION_CANCELLED)
      return Fail(r->error);
    *available = static_cast<DWORD>(std::min<size_t>(r->Buffered(), 0x7FFFFFFF));
    return true;
  }

  bool ReadData(HINTERNET request, void* buffer, DWORD toRead, DWORD* read) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return false;
    if (!r->received) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (read == nullptr || (buffer == nullptr && toRead > 0)) return Fail(ERROR_INVALID_PARAMETER);
    Drive(*r, [r] { return r->Buffered() > 0; });
    if ((r->Buffered() == 0 && r->error != 0) || r->error == ERROR_WINHTTP_OPERATION_CANCELLED)
      return Fail(r->error);
    size_t n = std::min<size_t>(r->Buffered(), toRead);
    if (n > 0) std::memcpy(buffer, r->body.data() + r->bodyPos, n);
    r->bodyPos += n;
    if (r->bodyPos == r->body.size()) {
      r->body.clear();
      r->bodyPos = 0;
    }
    *read = static_cast<DWORD>(n);
    return true;
  }

  // Hands on what is buffered, then lets the write callback pass every
  // further chunk to the sink while the transfer is driven to its end.
  EBodyRead ReadBody(HINTERNET request, IHttpBodySink& sink) override {
    auto* r = Lookup<CRequestHandle>(request, HandleKind::Request);
    if (r == nullptr) return EBodyRead::kFailed;
    if (!r->received || r->error == ERROR_WINHTTP_OPERATION_CANCELLED) {
      Fail(r->received ? r->error : ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
      return EBodyRead::kFailed;
    }
    while (r->Buffered() > 0) {
      const DWORD n = static_cast<DWORD>(std::min<size_t>(r->Buffered(), 0x7FFFFFFF));
      const char* data = r->body.data() + r->bodyPos;
      r->bodyPos += n;
      if (!sink.OnBodyChunk(data, n)) return EBodyRead::kRefused;
    }
    r->body.clear();
    r->body.shrink_to_fit();
    r->bodyPos = 0;
    r->sink = &sink;
    r->sinkRefused = false;
    Drive(*r, [r] { return r->sinkRefused; });
    r->sink = nullptr;
    if (r->sinkRefused) return EBodyRead::kRefused;
    if (r->error != 0) {
      Fail(r->error);
      return EBodyRead::kFailed;
    }
    return EBodyRead::kEnd;
  }

  bool CloseHandle(HINTERNET handle) override {
    CHandle* h = static_cast<CHandle*>(handle);
    {
      std::lock_guard<std::mutex> lock(RegistryMutex());
      if (h == nullptr || Registry().erase(h) == 0) return Fail(ERROR_INVALID_HANDLE);
    }
    delete h;
    return true;
  }

 private:
  static bool HeadText(const CRequestHandle& r, DWORD level, const wchar_t* name, std::wstring& text) {
    if (r.head.empty()) return false;
    const std::string& status = r.head.front();
    size_t sp = status.find(' ');
    std::string rest = sp == std::string::npos ? std::string() : Trim(status.substr(sp + 1));
    std::string code = rest.substr(0, rest.find(' '));
    std::string reason = code.size() < rest.size() ? Trim(rest.substr(code.size())) : std::string();
    auto field = [&](const std::string& wanted, std::wstring& out) {
      for (size_t i = 1; i < r.head.size(); ++i) {
        size_t colon = r.head[i].find(':');
        if (colon != std::string::npos && EqualsNoCase(Trim(r.head[i].substr(0, colon)), wanted)) {
          out = Latin1ToWide(Trim(r.head[i].substr(colon + 1)));
          return true;
        }
      }
      return false;
    };
    switch (level) {
      case WINHTTP_QUERY_STATUS_CODE:
        text = Latin1ToWide(code);
        return !code.empty();
      case WINHTTP_QUERY_STATUS_TEXT:
        text = Latin1ToWide(reason);
        return true;
      case WINHTTP_QUERY_CONTENT_LENGTH:
        return field("Content-Length", text);
      case WINHTTP_QUERY_RAW_HEADERS:
      case WINHTTP_QUERY_RAW_HEADERS_CRLF: {
        const wchar_t* end = level == WINHTTP_QUERY_RAW_HEADERS ? L"\0" : L"\r\n";
        size_t endLength = level == WINHTTP_QUERY_RAW_HEADERS ? 1 : 2;
        text.clear();
        for (const std::string& line : r.head) text += Latin1ToWide(line).append(end, endLength);
        text.append(end, endLength);
        return true;
      }
      case 65535:  // WINHTTP_QUERY_CUSTOM
        return name != nullptr && field(ToUtf8(name), text);
      default:
        return false;
    }
  }

  static bool Start(CRequestHandle& r) {
    r.easy = curl_easy_init();
    r.multi = curl_multi_init();
    if (r.easy == nullptr || r.multi == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    const HttpTransportTuning tuning = GetHttpTransportTuning();
    const CConnectHandle& c = r.connection;
    std::string host = c.host;
    if (host.find(':') != std::string::npos && host[0] != '[') host = "[" + host + "]";
    std::string url = "http://" + host;
    if (c.port != INTERNET_DEFAULT_HTTP_PORT) url += ":" + std::to_string(c.port);
    url += r.target;

    for (const char* fixed : {"Accept:", "Expect:"}) r.headerList = curl_slist_append(r.headerList, fixed);
    if ((r.flags & WINHTTP_FLAG_REFRESH) != 0) {
      r.headerList = curl_slist_append(r.headerList, "Pragma: no-cache");
      r.headerList = curl_slist_append(r.headerList, "Cache-Control: no-cache");
    }
    for (const std::string& line : r.headerLines) r.headerList = curl_slist_append(r.headerList, line.c_str());
    if (r.headerList == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);

    CURL* e = r.easy;
    bool ok = true;
    auto set = [&ok](CURLcode rc) { ok = ok && rc == CURLE_OK; };
    set(curl_easy_setopt(e, CURLOPT_URL, url.c_str()));
    set(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnPrerequest));
    set(curl_easy_setopt(e, CURLOPT_PREREQDATA, &r));
    // Verification stays on, always; tests may add one authority.
    set(curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L));
    {
      std::lock_guard<std::mutex> lock(ExtraCaMutex());
      // The bundle file gives way to the extra authority; the system's CA
      // directory stays in use beside it.
      if (!ExtraCaFile().empty()) set(curl_easy_setopt(e, CURLOPT_CAINFO, ExtraCaFile().c_str()));
    }
    // An abandoned name resolution must not hold the caller until it ends.
    set(curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L));
    set(curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L));
    set(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
    set(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
    bool follow = (r.disabledFeatures & WINHTTP_DISABLE_REDIRECTS) == 0;
    set(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L));
    set(curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(tuning.maxRedirects)));
    if (r.verb == "HEAD") {
      set(curl_easy_setopt(e, CURLOPT_NOBODY, 1L));
    } else if (r.verb != "GET") {
      set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str()));
    }
    if (!r.requestBody.empty()) {
      set(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(r.requestBody.size())));
      set(curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.requestBody.data()));
    }
    set(curl_easy_setopt(e, CURLOPT_USERAGENT, r.connection.session.agent.c_str()));
    if (!r.referrer.empty()) set(curl_easy_setopt(e, CURLOPT_REFERER, r.referrer.c_str()));
    set(curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headerList));
    // Request headers (the cookie among them) go to the server only, never
    // into a CONNECT to the proxy, and the proxy's answer to a CONNECT is not
    // a response head of the request.
    set(curl_easy_setopt(e, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE));
    set(curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
    if (c.session.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      set(curl_easy_setopt(e, CURLOPT_PROXY, c.session.proxy.c_str()));
      set(curl_easy_setopt(e, CURLOPT_NOPROXY, ""));  // no bypass list: the environment's no_proxy does not apply
    } else if (c.session.accessType == WINHTTP_ACCESS_TYPE_NO_PROXY) {
      set(curl_easy_setopt(e, CURLOPT_PROXY, ""));
    }  // else: curl's own reading of http_proxy / no_proxy, the system setting here
    long connectMs = static_cast<long>(r.connectTimeoutMs != 0 ? r.connectTimeoutMs : tuning.connectTimeoutMs);
    set(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connectMs));
    if (tuning.lowSpeedBytesPerSecond > 0 && tuning.lowSpeedSeconds > 0) {
      set(curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(tuning.lowSpeedBytesPerSecond)));
      set(curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(tuning.lowSpeedSeconds)));
    }
    set(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader));
    set(curl_easy_setopt(e, CURLOPT_HEADERDATA, &r));
    set(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody));
    set(curl_easy_setopt(e, CURLOPT_WRITEDATA, &r));
    set(curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, OnDebug));
    set(curl_easy_setopt(e, CURLOPT_DEBUGDATA, &r));
    set(curl_easy_setopt(e, CURLOPT_VERBOSE, 1L));  // the debug callback tells when the request is out
    set(curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r.errorText));
    if (!ok) return Fail(ERROR_WINHTTP_INVALID_URL);
    if (curl_multi_add_handle(r.multi, e) != CURLM_OK) return Fail(ERROR_WINHTTP_INTERNAL_ERROR);
    r.sendStart = r.lastActivity = Clock::now();
    return true;
  }
};

}  // namespace

void TrustExtraCaFileForTesting(const std::wstring& pemFile) {
  std::lock_guard<std::mutex> lock(ExtraCaMutex());
  ExtraCaFile() = pemFile.empty() ? std::string() : ToNativePath(pemFile);
}

IHttpTransport& SystemHttpTransport() {
  static NoDestructor<CCurlHttpTransport> s_transport;
  return *s_transport.get();
}

}  // namespace platform

// The HTTP transport seam: the WinHTTP operations the downloader relies on,
// one call each, with WinHTTP's handles, flags, information levels and error
// codes.
//
// Handles: opaque; a session comes from Open, a connection from Connect on a
// session, a request from OpenRequest on a connection. Each is closed with
// CloseHandle by its owner; closing a parent does not invalidate a child
// that is still open (the child keeps what it needs).
// Failure: every call returns null/false and sets the thread's last error
// (platform::SetLastError) to a WinHTTP or Windows code; nothing throws.
// Threads: a handle belongs to the thread that uses it; the calls are
// synchronous and block that thread. Installing a transport for tests is for
// single-threaded set-up only.
//
// What every backend keeps, as WinHTTP does by default:
//  - redirects: http -> https and https -> https are followed, at most 10
//    hops; https -> http and every other scheme fail the call with
//    ERROR_WINHTTP_REDIRECT_FAILED. Through a named proxy an https request
//    goes through "CONNECT host:port" (443 unless the URL names a port);
//  - certificates and host names are always verified against the system's
//    CA store; a failed verification is ERROR_WINHTTP_SECURE_FAILURE;
//  - a named proxy is "host", "host:port" or "[IPv6]:port"; without a port
//    it is port 80. A proxy text that cannot be parsed fails Open (87): a
//    session never falls back to a direct connection;
//  - a stop query installed on the calling thread (CScopedStopQuery) ends a
//    waiting call with ERROR_WINHTTP_OPERATION_CANCELLED, in every phase.
// What the posix backend (libcurl) guarantees beyond WinHTTP's contract:
//  - nothing but "http" and "https" is ever spoken;
//  - a CR, LF or NUL can never reach the request line or a header line:
//    such a URL, referrer or header line is refused (12005 / 12153 / 87);
//  - a transfer that stalls, or trickles below the tuning's rate for its
//    window, ends with ERROR_WINHTTP_TIMEOUT.
#ifndef VERSEWELL_PLATFORM_HTTP_TRANSPORT_H
#define VERSEWELL_PLATFORM_HTTP_TRANSPORT_H

#include <cstdint>

#include "platform/Types.h"

namespace platform {

typedef void* HINTERNET;
typedef uint16_t INTERNET_PORT;

constexpr DWORD WINHTTP_ACCESS_TYPE_DEFAULT_PROXY = 0;
constexpr DWORD WINHTTP_ACCESS_TYPE_NO_PROXY = 1;
constexpr DWORD WINHTTP_ACCESS_TYPE_NAMED_PROXY = 3;

constexpr INTERNET_PORT INTERNET_DEFAULT_PORT = 0;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;

constexpr DWORD WINHTTP_FLAG_REFRESH = 0x00000100;

constexpr DWORD WINHTTP_ADDREQ_FLAG_ADD = 0x20000000;
constexpr DWORD WINHTTP_ADDREQ_FLAG_REPLACE = 0x80000000;
constexpr DWORD WINHTTP_HEADERS_LENGTH_TERMINATED = 0xFFFFFFFF;  // "-1": the text is NUL-terminated

constexpr DWORD WINHTTP_OPTION_DISABLE_FEATURE = 63;
constexpr DWORD WINHTTP_DISABLE_COOKIES = 0x00000001;
constexpr DWORD WINHTTP_DISABLE_REDIRECTS = 0x00000002;
constexpr DWORD WINHTTP_DISABLE_AUTHENTICATION = 0x00000004;
constexpr DWORD WINHTTP_DISABLE_KEEP_ALIVE = 0x00000008;

constexpr DWORD WINHTTP_QUERY_CONTENT_LENGTH = 5;
constexpr DWORD WINHTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD WINHTTP_QUERY_STATUS_TEXT = 20;
constexpr DWORD WINHTTP_QUERY_RAW_HEADERS = 21;
constexpr DWORD WINHTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr DWORD WINHTTP_QUERY_FLAG_NUMBER = 0x20000000;

// WinHTTP error codes (texts in platform/posix/ErrorText.cpp).
constexpr DWORD ERROR_WINHTTP_OUT_OF_HANDLES = 12001;
constexpr DWORD ERROR_WINHTTP_TIMEOUT = 12002;
constexpr DWORD ERROR_WINHTTP_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_WINHTTP_INVALID_URL = 12005;
constexpr DWORD ERROR_WINHTTP_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_WINHTTP_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_WINHTTP_INVALID_OPTION = 12009;
constexpr DWORD ERROR_WINHTTP_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_WINHTTP_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_WINHTTP_CONNECTION_ERROR = 12030;
constexpr DWORD ERROR_WINHTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_WINHTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_WINHTTP_INVALID_HEADER = 12153;
constexpr DWORD ERROR_WINHTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_WINHTTP_SECURE_FAILURE = 12175;

// Takes a response body chunk by chunk (IHttpTransport::ReadBody).
class IHttpBodySink {
 public:
  // `size` (above 0) bytes, valid only during the call. Called on the thread
  // that called ReadBody, possibly from inside the backend's own callback:
  // it must not throw and must not call the transport. False refuses the
  // chunk and ends the read.
  virtual bool OnBodyChunk(const char* data, DWORD size) = 0;

 protected:
  ~IHttpBodySink() = default;
};

// How a ReadBody ended.
enum class EBodyRead {
  kEnd,        // the whole body went to the sink
  kFailed,     // the transport failed (its code is the thread's last error)
  kShortRead,  // a read returned fewer bytes than announced (last error unchanged)
  kNoMemory,   // no buffer for a chunk (last error unchanged)
  kRefused,    // the sink refused a chunk (last error unchanged)
};

class IHttpTransport {
 public:
  virtual ~IHttpTransport() = default;

  // WinHttpOpen: a session with `agent`; `accessType` DEFAULT_PROXY (the
  // system's setting: on posix the usual proxy environment variables),
  // NO_PROXY, or NAMED_PROXY with `proxyName` ("host:port"). Null on failure.
  virtual HINTERNET Open(const wchar_t* agent, DWORD accessType, const wchar_t* proxyName) = 0;
  // WinHttpConnect: remembers host and port (0 = 80); nothing goes out yet.
  virtual HINTERNET Connect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port) = 0;
  // WinHttpOpenRequest: `objectName` is the path after the leading slash
  // (the request line carries "/" + objectName); `referrer` may be null;
  // the version is always HTTP/1.1; WINHTTP_FLAG_REFRESH adds the no-cache
  // request headers.
  virtual HINTERNET OpenRequest(HINTERNET connect, const wchar_t* verb, const wchar_t* objectName,
                                const wchar_t* referrer, DWORD flags) = 0;
  // WinHttpSetTimeouts, in milliseconds; 0 means no limit for resolve and
  // the platform's default for the others.
  virtual bool SetTimeouts(HINTERNET request, int resolveTimeout, int connectTimeout, int sendTimeout,
                           int receiveTimeout) = 0;
  // WinHttpAddRequestHeaders with one header line "Name: value" (a trailing
  // CR LF is allowed); `length` in characters or HEADERS_LENGTH_TERMINATED.
  // With ADDREQ_FLAG_REPLACE a header of the same name (case-insensitive) is
  // replaced, otherwise the line is added.
  virtual bool AddRequestHeaders(HINTERNET request, const wchar_t* headers, DWORD length, DWORD modifiers) = 0;
  // WinHttpSetOption; the transport knows WINHTTP_OPTION_DISABLE_FEATURE.
  virtual bool SetOption(HINTERNET request, DWORD option, const void* buffer, DWORD length) = 0;
  // WinHttpSendRequest: connects and sends request line, headers and the
  // optional body. Returns once the request is out (or failed).
  virtual bool SendRequest(HINTERNET request, const wchar_t* headers, DWORD headersLength, const void* optional,
                           DWORD optionalLength, DWORD totalLength, uintptr_t context) = 0;
  // WinHttpReceiveResponse: waits for the final response head and for its
  // body to begin (or end); redirects are followed unless disabled.
  virtual bool ReceiveResponse(HINTERNET request) = 0;
  // WinHttpQueryHeaders of the final response. With QUERY_FLAG_NUMBER the
  // buffer takes a DWORD. Text results are wide and NUL-terminated; a null or
  // short buffer fails with ERROR_INSUFFICIENT_BUFFER and `*bufferLength`
  // receives the bytes needed, terminator included; on success it receives
  // the bytes written without the terminator. RAW_HEADERS gives the head as
  // lines that each end in NUL, status line first, an empty line last.
  virtual bool QueryHeaders(HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer,
                            DWORD* bufferLength, DWORD* index) = 0;
  // WinHttpQueryDataAvailable: blocks until body bytes are there; 0 at the
  // end of the body.
  virtual bool QueryDataAvailable(HINTERNET request, DWORD* available) = 0;
  // WinHttpReadData: copies up to `toRead` bytes; `*read` 0 at the end.
  virtual bool ReadData(HINTERNET request, void* buffer, DWORD toRead, DWORD* read) = 0;
  // WinHttpCloseHandle: any of the three kinds.
  virtual bool CloseHandle(HINTERNET handle) = 0;
  // Not a WinHTTP call: the rest of the body, after ReceiveResponse, handed
  // to `sink` as it arrives; the same bytes, failures and stop handling as a
  // loop of QueryDataAvailable and ReadData, which is what this default
  // does (through a chunk buffer it owns). A backend may instead pass the
  // bytes it receives straight on, sparing the copies.
  virtual EBodyRead ReadBody(HINTERNET request, IHttpBodySink& sink);
};

// The stop query of a thread: a function the transport asks, from the
// thread that called it and never from any other, whether the caller wants
// the running request ended. While a query is installed on the calling
// thread, every transport call that waits on the network (SendRequest,
// ReceiveResponse, QueryDataAvailable, ReadData) asks it before it starts
// waiting and at least every STOP_POLL_INTERVAL_MS while it waits, whatever
// the phase: resolving, connecting, sending, waiting for the response head,
// reading the body. Once the query answers true the call fails with
// ERROR_WINHTTP_OPERATION_CANCELLED and so does every later waiting call on
// that request; the caller closes it. The query must be cheap and must not
// call the transport.
typedef bool (*PFN_STOP_QUERY)(void* context);
constexpr DWORD STOP_POLL_INTERVAL_MS = 50;

// Installs a stop query on the calling thread for the object's lifetime and
// restores the one it replaced. Create and destroy it on the same thread.
class CScopedStopQuery {
 public:
  CScopedStopQuery(PFN_STOP_QUERY query, void* context);
  ~CScopedStopQuery();
  CScopedStopQuery(const CScopedStopQuery&) = delete;
  CScopedStopQuery& operator=(const CScopedStopQuery&) = delete;

 private:
  PFN_STOP_QUERY m_pfnPrevious;
  void* m_pPreviousContext;
};

// For backends: asks the calling thread's stop query; false when none is
// installed.
bool IsStopQueryAnsweringStop();

// Knobs of the posix backend, process-wide. The defaults are close to
// WinHTTP's (60 s connect, 30 s send and receive) plus the trickle guard:
// a transfer that moves fewer than lowSpeedBytesPerSecond for
// lowSpeedSeconds in a row ends with ERROR_WINHTTP_TIMEOUT. Tests shorten
// them; set them before any transfer starts.
struct HttpTransportTuning {
  DWORD connectTimeoutMs = 60000;
  DWORD sendTimeoutMs = 30000;
  DWORD receiveTimeoutMs = 30000;
  DWORD lowSpeedBytesPerSecond = 1024;
  DWORD lowSpeedSeconds = 30;
  DWORD maxRedirects = 10;
};
HttpTransportTuning GetHttpTransportTuning();
void SetHttpTransportTuning(const HttpTransportTuning& tuning);

// The transport of the platform backend.
IHttpTransport& SystemHttpTransport();
// Installs `transport` (not owned); null restores the system transport.
// Returns the previously installed one (null for the system's).
IHttpTransport* SetHttpTransportForTesting(IHttpTransport* transport);

// The WinHTTP calls, routed to the current transport.
HINTERNET WinHttpOpen(const wchar_t* agent, DWORD accessType, const wchar_t* proxyName);
HINTERNET WinHttpConnect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port);
HINTERNET WinHttpOpenRequest(HINTERNET connect, const wchar_t* verb, const wchar_t* objectName,
                             const wchar_t* referrer, DWORD flags);
bool WinHttpSetTimeouts(HINTERNET request, int resolveTimeout, int connectTimeout, int sendTimeout,
                        int receiveTimeout);
bool WinHttpAddRequestHeaders(HINTERNET request, const wchar_t* headers, DWORD length, DWORD modifiers);
bool WinHttpSetOption(HINTERNET request, DWORD option, const void* buffer, DWORD length);
bool WinHttpSendRequest(HINTERNET request, const wchar_t* headers, DWORD headersLength, const void* optional,
                        DWORD optionalLength, DWORD totalLength, uintptr_t context);
bool WinHttpReceiveResponse(HINTERNET request);
bool WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* bufferLength,
                         DWORD* index);
bool WinHttpQueryDataAvailable(HINTERNET request, DWORD* available);
bool WinHttpReadData(HINTERNET request, void* buffer, DWORD toRead, DWORD* read);
bool WinHttpCloseHandle(HINTERNET handle);
// IHttpTransport::ReadBody of the current transport.
EBodyRead ReadHttpBody(HINTERNET request, IHttpBodySink& sink);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_HTTP_TRANSPORT_H

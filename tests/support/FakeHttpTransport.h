// A scripted HTTP transport for tests: answers every request with one
// prepared response (status line, header lines, body chunks) and records
// what the caller asked for. Any step can be made to fail with a chosen
// code, the receive and send steps can raise, and a chunk can be read short.
// Install with ScopedHttpTransport. Single-threaded use only.
#ifndef VERSEWELL_TESTS_SUPPORT_FAKE_HTTP_TRANSPORT_H
#define VERSEWELL_TESTS_SUPPORT_FAKE_HTTP_TRANSPORT_H

#include <set>
#include <string>
#include <vector>

#include "platform/HttpTransport.h"

struct CFakeHttpResponse {
  std::string statusLine = "HTTP/1.1 200 OK";
  std::vector<std::string> headerLines;  // "Name: value", as the server sent them
  std::vector<std::string> chunks;       // one chunk per QueryDataAvailable
};

class CFakeHttpTransport : public platform::IHttpTransport {
 public:
  CFakeHttpResponse response;

  // Failure injection: a non-zero code fails that step with it.
  DWORD failOpen = 0;
  DWORD failConnect = 0;
  DWORD failOpenRequest = 0;
  DWORD failAddHeaders = 0;
  DWORD failSetOption = 0;
  DWORD failSend = 0;
  DWORD failReceive = 0;
  bool throwInReceive = false;
  bool throwBadAllocInSend = false;  // SendRequest raises std::bad_alloc
  DWORD failRawHeaders = 0;     // the second (buffered) raw header query
  int failDataAvailableAt = -1;  // chunk index whose availability query fails ...
  DWORD dataAvailableError = 12030;  // ... with this code
  int shortReadAt = -1;          // chunk index whose read delivers one byte less

  // What the caller did.
  std::wstring agent;
  DWORD accessType = 99;
  std::wstring proxy;
  std::wstring host;
  platform::INTERNET_PORT port = 0;
  std::wstring verb;
  std::wstring objectName;
  std::wstring referrer;  // "(none)" when null
  DWORD requestFlags = 0;
  std::vector<std::wstring> headerLines;
  std::vector<DWORD> headerModifiers;
  DWORD disabledFeatures = 0;
  int timeoutsSet = 0;
  int connectTimeout = 0;
  int sends = 0;
  std::set<void*> openHandles;

  platform::HINTERNET Open(const wchar_t* agent, DWORD accessType, const wchar_t* proxyName) override;
  platform::HINTERNET Connect(platform::HINTERNET session, const wchar_t* serverName,
                              platform::INTERNET_PORT port) override;
  platform::HINTERNET OpenRequest(platform::HINTERNET connect, const wchar_t* verb, const wchar_t* objectName,
                                  const wchar_t* referrer, DWORD flags) override;
  bool SetTimeouts(platform::HINTERNET request, int resolveTimeout, int connectTimeout, int sendTimeout,
                   int receiveTimeout) override;
  bool AddRequestHeaders(platform::HINTERNET request, const wchar_t* headers, DWORD length, DWORD modifiers) override;
  bool SetOption(platform::HINTERNET request, DWORD option, const void* buffer, DWORD length) override;
  bool SendRequest(platform::HINTERNET request, const wchar_t* headers, DWORD headersLength, const void* optional,
                   DWORD optionalLength, DWORD totalLength, uintptr_t context) override;
  bool ReceiveResponse(platform::HINTERNET request) override;
  bool QueryHeaders(platform::HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer,
                    DWORD* bufferLength, DWORD* index) override;
  bool QueryDataAvailable(platform::HINTERNET request, DWORD* available) override;
  bool ReadData(platform::HINTERNET request, void* buffer, DWORD toRead, DWORD* read) override;
  bool CloseHandle(platform::HINTERNET handle) override;

 private:
  platform::HINTERNET NewHandle();
  size_t m_nextChunk = 0;
  int m_handleCounter = 0;
  char m_handles[64] = {};
};

class ScopedHttpTransport {
 public:
  explicit ScopedHttpTransport(platform::IHttpTransport& t) : m_previous(platform::SetHttpTransportForTesting(&t)) {}
  ~ScopedHttpTransport() { platform::SetHttpTransportForTesting(m_previous); }

 private:
  platform::IHttpTransport* m_previous;
};

#endif  // VERSEWELL_TESTS_SUPPORT_FAKE_HTTP_TRANSPORT_H

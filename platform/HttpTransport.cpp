// The routing of the WinHTTP calls to the installed transport, and the
// process-wide tuning of the backend. Shared by every backend.
#include "platform/HttpTransport.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "platform/HttpTransportTesting.h"

#include "platform/NoDestructor.h"

namespace platform {
namespace {

std::mutex& TuningMutex() {
  static NoDestructor<std::mutex> s_mutex;
  return *s_mutex.get();
}
HttpTransportTuning& TuningStore() {
  static NoDestructor<HttpTransportTuning> s_tuning;
  return *s_tuning.get();
}

std::atomic<IHttpTransport*> g_currentTransport{nullptr};

thread_local PFN_STOP_QUERY t_pfnStopQuery = nullptr;
thread_local void* t_pStopContext = nullptr;
thread_local bool t_bAskingStopQuery = false;

IHttpTransport& Current() {
  IHttpTransport* t = g_currentTransport.load(std::memory_order_acquire);
  return t != nullptr ? *t : SystemHttpTransport();
}

}  // namespace

CScopedStopQuery::CScopedStopQuery(PFN_STOP_QUERY query, void* context)
    : m_pfnPrevious(t_pfnStopQuery), m_pPreviousContext(t_pStopContext) {
  t_pfnStopQuery = query;
  t_pStopContext = context;
}

CScopedStopQuery::~CScopedStopQuery() {
  t_pfnStopQuery = m_pfnPrevious;
  t_pStopContext = m_pPreviousContext;
}

bool IsStopQueryAnsweringStop() {
  if (t_pfnStopQuery == nullptr) return false;
  struct CAsking {
    const bool bOuter = t_bAskingStopQuery;
    CAsking() { t_bAskingStopQuery = true; }
    ~CAsking() { t_bAskingStopQuery = bOuter; }
  } asking;
  return t_pfnStopQuery(t_pStopContext);
}

bool IsStopQueryBeingAskedForTesting() { return t_bAskingStopQuery; }

HttpTransportTuning GetHttpTransportTuning() {
  std::lock_guard<std::mutex> lock(TuningMutex());
  return TuningStore();
}

void SetHttpTransportTuning(const HttpTransportTuning& tuning) {
  std::lock_guard<std::mutex> lock(TuningMutex());
  TuningStore() = tuning;
}

IHttpTransport* SetHttpTransportForTesting(IHttpTransport* transport) { return g_currentTransport.exchange(transport); }

HINTERNET WinHttpOpen(const wchar_t* agent, DWORD accessType, const wchar_t* proxyName) {
  return Current().Open(agent, accessType, proxyName);
}
HINTERNET WinHttpConnect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port) {
  return Current().Connect(session, serverName, port);
}
HINTERNET WinHttpOpenRequest(HINTERNET connect, const wchar_t* verb, const wchar_t* objectName,
                             const wchar_t* referrer, DWORD flags) {
  return Current().OpenRequest(connect, verb, objectName, referrer, flags);
}
bool WinHttpSetTimeouts(HINTERNET request, int resolveTimeout, int connectTimeout, int sendTimeout,
                        int receiveTimeout) {
  return Current().SetTimeouts(request, resolveTimeout, connectTimeout, sendTimeout, receiveTimeout);
}
bool WinHttpAddRequestHeaders(HINTERNET request, const wchar_t* headers, DWORD length, DWORD modifiers) {
  return Current().AddRequestHeaders(request, headers, length, modifiers);
}
bool WinHttpSetOption(HINTERNET request, DWORD option, const void* buffer, DWORD length) {
  return Current().SetOption(request, option, buffer, length);
}
bool WinHttpSendRequest(HINTERNET request, const wchar_t* headers, DWORD headersLength, const void* optional,
                        DWORD optionalLength, DWORD totalLength, uintptr_t context) {
  return Current().SendRequest(request, headers, headersLength, optional, optionalLength, totalLength, context);
}
bool WinHttpReceiveResponse(HINTERNET request) { return Current().ReceiveResponse(request); }
bool WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* bufferLength,
                         DWORD* index) {
  return Current().QueryHeaders(request, infoLevel, name, buffer, bufferLength, index);
}
bool WinHttpQueryDataAvailable(HINTERNET request, DWORD* available) {
  return Current().QueryDataAvailable(request, available);
}
bool WinHttpReadData(HINTERNET request, void* buffer, DWORD toRead, DWORD* read) {
  return Current().ReadData(request, buffer, toRead, read);
}
bool WinHttpCloseHandle(HINTERNET handle) { return Current().CloseHandle(handle); }
EBodyRead ReadHttpBody(HINTERNET request, IHttpBodySink& sink) { return Current().ReadBody(request, sink); }

// The chunk buffer is reused between reads and never cleared: each read
// overwrites what it hands on.
EBodyRead IHttpTransport::ReadBody(HINTERNET request, IHttpBodySink& sink) {
  std::unique_ptr<char[]> chunk;
  size_t capacity = 0;
  for (;;) {
    DWORD available = 0;
    if (!QueryDataAvailable(request, &available)) return EBodyRead::kFailed;
    if (available == 0) return EBodyRead::kEnd;
    if (available > capacity) {
      chunk.reset(new (std::nothrow) char[static_cast<size_t>(available)]);
      capacity = chunk ? available : 0;
    }
    if (!chunk) return EBodyRead::kNoMemory;
    DWORD read = 0;
    if (!ReadData(request, chunk.get(), available, &read) || read != available) return EBodyRead::kShortRead;
    if (!sink.OnBodyChunk(chunk.get(), read)) return EBodyRead::kRefused;
  }
}

}  // namespace platform

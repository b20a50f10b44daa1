// Windows backend of platform/HttpTransport.h on WinHTTP.
//
// The calls go to WinHTTP one for one; this file adds what the transport
// contract asks beyond WinHTTP, and evens out where Wine's WinHTTP differs
// from Windows':
//  - a CR, LF or NUL never reaches the wire: such an agent, proxy, referrer
//    or header line is refused before WinHTTP sees it (87 / 12005 / 12153);
//  - redirects stay within http and https (WinHTTP's default policy
//    refuses https -> http; Wine also follows other schemes, so the policy
//    is set explicitly) and at most the tuning's number of hops;
//  - the tuning's connect, send and receive time-outs apply to every
//    request (WinHttpSetTimeouts with 0 would mean "no limit" for some);
//  - Wine reports some socket failures with their raw Winsock codes
//    (10060 timed out, 10061 refused, 10054 reset): these are mapped onto
//    the WinHTTP codes Windows gives (12002, 12029, 12030).
// Handles are WinHTTP's own; closing a parent before a child is fine with
// WinHTTP as well.
#include <cwchar>
#include <string>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
#include "platform/NoDestructor.h"
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

class CWinHttpTransport : public IHttpTransport {
 public:
  HINTERNET Open(const wchar_t* agent, DWORD accessType, const wchar_t* proxyName) override {
    if (HasBreak(agent) || HasBreak(proxyName)) return Refuse(ERROR_INVALID_PARAMETER), nullptr;
    if (accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && (proxyName == nullptr || *proxyName == L'\0'))
      return Refuse(ERROR_INVALID_PARAMETER), nullptr;
    if (accessType != WINHTTP_ACCESS_TYPE_DEFAULT_PROXY && accessType != WINHTTP_ACCESS_TYPE_NO_PROXY &&
        accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY)
      return Refuse(ERROR_INVALID_PARAMETER), nullptr;
    const wchar_t* proxy = accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? proxyName : WINHTTP_NO_PROXY_NAME;
    return Checked(::WinHttpOpen(agent, accessType, proxy, WINHTTP_NO_PROXY_BYPASS, 0));
  }

  HINTERNET Connect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port) override {
    if (serverName == nullptr || *serverName == L'\0' || HasBreak(serverName))
      return Refuse(ERROR_WINHTTP_INVALID_URL), nullptr;
    return Checked(::WinHttpConnect(session, serverName, port, 0));
  }

  HINTERNET OpenRequest(HINTERNET connect, const wchar_t* verb, const wchar_t* objectName, const wchar_t* referrer,
                        DWORD flags) override {
    if (HasBreak(objectName)) return Refuse(ERROR_WINHTTP_INVALID_URL), nullptr;
    if (HasBreak(referrer) || HasBreak(verb)) return Refuse(ERROR_INVALID_PARAMETER), nullptr;
    // The contract's object name has no leading slash; WinHTTP's has one.
    std::wstring object = L"/";
    if (objectName != nullptr) object += objectName[0] == L'/' ? objectName + 1 : objectName;
    const wchar_t* referrers[2] = {referrer, nullptr};
    HINTERNET request = Checked(::WinHttpOpenRequest(connect, verb, object.c_str(), nullptr,
                                                     referrer != nullptr ? referrer : WINHTTP_NO_REFERER,
                                                     WINHTTP_DEFAULT_ACCEPT_TYPES, flags & WINHTTP_FLAG_REFRESH));
    (void)referrers;
    if (request == nullptr) return nullptr;
    const HttpTransportTuning tuning = GetHttpTransportTuning();
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    ::WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    DWORD hops = tuning.maxRedirects;
    ::WinHttpSetOption(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &hops, sizeof hops);
    ::WinHttpSetTimeouts(request, 0, static_cast<int>(tuning.connectTimeoutMs),
                         static_cast<int>(tuning.sendTimeoutMs), static_cast<int>(tuning.receiveTimeoutMs));
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
    return Checked(::WinHttpAddRequestHeaders(request, text.c_str(), static_cast<DWORD>(text.size()), modifiers)) !=
           FALSE;
  }

  bool SetOption(HINTERNET request, DWORD option, const void* buffer, DWORD length) override {
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
    return Checked(::WinHttpSendRequest(request, headers != nullptr ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                                        headers != nullptr ? headersLength : 0, const_cast<void*>(optional),
                                        optionalLength, totalLength, context)) != FALSE;
  }

  bool ReceiveResponse(HINTERNET request) override {
    return Checked(::WinHttpReceiveResponse(request, nullptr)) != FALSE;
  }

  bool QueryHeaders(HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer, DWORD* bufferLength,
                    DWORD* index) override {
    return Checked(::WinHttpQueryHeaders(request, infoLevel, name != nullptr ? name : WINHTTP_HEADER_NAME_BY_INDEX,
                                         buffer, bufferLength, index)) != FALSE;
  }

  bool QueryDataAvailable(HINTERNET request, DWORD* available) override {
    if (available == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
    return Checked(::WinHttpQueryDataAvailable(request, available)) != FALSE;
  }

  bool ReadData(HINTERNET request, void* buffer, DWORD toRead, DWORD* read) override {
    if (read == nullptr || (buffer == nullptr && toRead > 0)) return Refuse(ERROR_INVALID_PARAMETER);
    return Checked(::WinHttpReadData(request, buffer, toRead, read)) != FALSE;
  }

  bool CloseHandle(HINTERNET handle) override { return Checked(::WinHttpCloseHandle(handle)) != FALSE; }
};

}  // namespace

IHttpTransport& SystemHttpTransport() {
  static NoDestructor<CWinHttpTransport> s_instance;
  return *s_instance.get();
}

}  // namespace platform

#include "platform/posix/CurlErrorMap.h"

#include <curl/curl.h>

#include "platform/HttpTransport.h"

namespace platform {

DWORD WinHttpErrorFromCurl(int curlCode, bool responseHeadSeen) {
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK:
      return ERROR_SUCCESS;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return responseHeadSeen ? ERROR_WINHTTP_REDIRECT_FAILED : ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    case CURLE_URL_MALFORMAT:
      return ERROR_WINHTTP_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return ERROR_WINHTTP_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_WINHTTP_CANNOT_CONNECT;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_PROXY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_WRITE_ERROR:
      return ERROR_WINHTTP_CONNECTION_ERROR;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_WINHTTP_TIMEOUT;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_WINHTTP_REDIRECT_FAILED;
    case CURLE_ABORTED_BY_CALLBACK:
      return ERROR_WINHTTP_OPERATION_CANCELLED;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CLIENTCERT:
      return ERROR_WINHTTP_SECURE_FAILURE;
    case CURLE_BAD_FUNCTION_ARGUMENT:
      return ERROR_INVALID_PARAMETER;
    case CURLE_AGAIN:
    case CURLE_NO_CONNECTION_AVAILABLE:
      return ERROR_WINHTTP_CANNOT_CONNECT;
    default:
      return ERROR_WINHTTP_INTERNAL_ERROR;
  }
}

bool HasLineBreakOrNul(const std::wstring& text) {
  for (wchar_t c : text)
    if (c == L'\r' || c == L'\n' || c == L'\0') return true;
  return false;
}

}  // namespace platform

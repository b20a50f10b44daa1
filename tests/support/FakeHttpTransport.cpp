#include "support/FakeHttpTransport.h"

#include <new>

#include <cstring>
#include <stdexcept>

#include "platform/ErrorText.h"

using namespace platform;

namespace {

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

HINTERNET CFakeHttpTransport::NewHandle() {
  HINTERNET h = &m_handles[m_handleCounter++ % 64];
  openHandles.insert(h);
  return h;
}

HINTERNET CFakeHttpTransport::Open(const wchar_t* a, DWORD access, const wchar_t* proxyName) {
  agent = a != nullptr ? a : L"";
  accessType = access;
  proxy = proxyName != nullptr ? proxyName : L"(none)";
  if (failOpen != 0) return SetLastError(failOpen), nullptr;
  return NewHandle();
}

HINTERNET CFakeHttpTransport::Connect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT p) {
  if (session == nullptr) return SetLastError(ERROR_INVALID_HANDLE), nullptr;
  host = serverName;
  port = p;
  if (failConnect != 0) return SetLastError(failConnect), nullptr;
  return NewHandle();
}

HINTERNET CFakeHttpTransport::OpenRequest(HINTERNET, const wchar_t* v, const wchar_t* object, const wchar_t* ref,
                                          DWORD flags) {
  verb = v;
  objectName = object;
  referrer = ref != nullptr ? ref : L"(none)";
  requestFlags = flags;
  m_nextChunk = 0;
  if (failOpenRequest != 0) return SetLastError(failOpenRequest), nullptr;
  return NewHandle();
}

bool CFakeHttpTransport::SetTimeouts(HINTERNET, int, int connect, int, int) {
  ++timeoutsSet;
  connectTimeout = connect;
  return true;
}

bool CFakeHttpTransport::AddRequestHeaders(HINTERNET, const wchar_t* headers, DWORD length, DWORD modifiers) {
  if (failAddHeaders != 0) return Fail(failAddHeaders);
  headerLines.push_back(length == WINHTTP_HEADERS_LENGTH_TERMINATED ? std::wstring(headers)
                                                                    : std::wstring(headers, length));
  headerModifiers.push_back(modifiers);
  return true;
}

bool CFakeHttpTransport::SetOption(HINTERNET, DWORD, const void* buffer, DWORD length) {
  if (failSetOption != 0) return Fail(failSetOption);
  if (length == sizeof(DWORD)) std::memcpy(&disabledFeatures, buffer, sizeof(DWORD));
  return true;
}

bool CFakeHttpTransport::SendRequest(HINTERNET, const wchar_t*, DWORD, const void*, DWORD, DWORD, uintptr_t) {
  ++sends;
  if (throwBadAllocInSend) throw std::bad_alloc();
  if (failSend != 0) return Fail(failSend);
  return true;
}

bool CFakeHttpTransport::ReceiveResponse(HINTERNET) {
  if (throwInReceive) {
    SetLastError(ERROR_WINHTTP_INTERNAL_ERROR);
    throw std::runtime_error("transport failure");
  }
  if (failReceive != 0) return Fail(failReceive);
  return true;
}

bool CFakeHttpTransport::QueryHeaders(HINTERNET, DWORD infoLevel, const wchar_t*, void* buffer, DWORD* bufferLength,
                                      DWORD*) {
  const std::string& s = response.statusLine;
  size_t sp = s.find(' ');
  std::string rest = sp == std::string::npos ? std::string() : s.substr(sp + 1);
  std::string code = rest.substr(0, rest.find(' '));
  std::string reason = code.size() < rest.size() ? rest.substr(code.size() + 1) : std::string();
  std::wstring text;
  switch (infoLevel & 0xFFFF) {
    case WINHTTP_QUERY_STATUS_CODE: text = Widen(code); break;
    case WINHTTP_QUERY_STATUS_TEXT: text = Widen(reason); break;
    case WINHTTP_QUERY_CONTENT_LENGTH: {
      bool found = false;
      for (const std::string& h : response.headerLines)
        if (h.compare(0, 15, "Content-Length:") == 0) {
          text = Widen(h.substr(15));
          found = true;
        }
      if (!found) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
      break;
    }
    case WINHTTP_QUERY_RAW_HEADERS: {
      if (buffer != nullptr && failRawHeaders != 0) return Fail(failRawHeaders);
      text = Widen(s);
      text += L'\0';
      for (const std::string& h : response.headerLines) {
        text += Widen(h);
        text += L'\0';
      }
      text += L'\0';
      break;
    }
    default:
      return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
  }
  if ((infoLevel & WINHTTP_QUERY_FLAG_NUMBER) != 0) {
    DWORD value = static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 10));
    std::memcpy(buffer, &value, sizeof value);
    return true;
  }
  DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  if (buffer == nullptr || *bufferLength < needed) {
    *bufferLength = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), needed);
  *bufferLength = needed - sizeof(wchar_t);
  return true;
}

bool CFakeHttpTransport::QueryDataAvailable(HINTERNET, DWORD* available) {
  if (static_cast<int>(m_nextChunk) == failDataAvailableAt) return Fail(dataAvailableError);
  *available = m_nextChunk < response.chunks.size() ? static_cast<DWORD>(response.chunks[m_nextChunk].size()) : 0;
  return true;
}

bool CFakeHttpTransport::ReadData(HINTERNET, void* buffer, DWORD toRead, DWORD* read) {
  if (m_nextChunk >= response.chunks.size()) {
    *read = 0;
    return true;
  }
  const std::string& chunk = response.chunks[m_nextChunk];
  DWORD n = toRead < chunk.size() ? toRead : static_cast<DWORD>(chunk.size());
  if (static_cast<int>(m_nextChunk) == shortReadAt && n > 0) --n;
  std::memcpy(buffer, chunk.data(), n);
  *read = n;
  ++m_nextChunk;
  return true;
}

bool CFakeHttpTransport::CloseHandle(HINTERNET handle) {
  if (openHandles.erase(handle) == 0) return Fail(ERROR_INVALID_HANDLE);
  return true;
}

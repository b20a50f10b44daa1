#include "http/UrlHost.h"

#include "platform/HttpTransport.h"
#include "platform/Path.h"

namespace {

bool IsAlpha(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
int HexValue(wchar_t c) {
  if (IsDigit(c)) return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Decodes %XX escapes; each run of escapes is read as UTF-8 (bytes that are
// not UTF-8 become U+FFFD). A '%' that starts no escape stays.
std::wstring DecodeEscapes(const std::wstring& text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    std::string bytes;
    while (i + 2 < text.size() && text[i] == L'%' && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 3;
    }
    if (!bytes.empty()) {
      out += platform::FromNativePath(bytes);
      continue;
    }
    out += text[i++];
  }
  return out;
}

}  // namespace

bool CrackUrlHost(const std::wstring& url, std::wstring& host, DWORD& error) {
  host.clear();
  // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
  size_t i = 0;
  if (url.empty() || !IsAlpha(url[0])) {
    error = platform::ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    return false;
  }
  while (i < url.size() && (IsAlpha(url[i]) || IsDigit(url[i]) || url[i] == L'+' || url[i] == L'-' || url[i] == L'.'))
    ++i;
  if (i >= url.size() || url[i] != L':') {
    error = platform::ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    return false;
  }
  ++i;
  if (url.compare(i, 2, L"//") != 0) return true;  // no authority, no host
  i += 2;
  size_t end = url.find_first_of(L"/?#", i);
  std::wstring authority = url.substr(i, end == std::wstring::npos ? std::wstring::npos : end - i);
  size_t at = authority.rfind(L'@');
  if (at != std::wstring::npos) authority.erase(0, at + 1);
  std::wstring raw;
  if (!authority.empty() && authority[0] == L'[') {
    size_t close = authority.find(L']');
    if (close == std::wstring::npos) {
      error = platform::ERROR_WINHTTP_INVALID_URL;
      return false;
    }
    raw = authority.substr(0, close + 1);
  } else {
    raw = authority.substr(0, authority.find(L':'));
  }
  host = DecodeEscapes(raw);
  return true;
}

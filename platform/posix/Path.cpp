// posix backend of platform/Path.h: "/" and UTF-8 file names.
#include "platform/Path.h"

namespace platform {

const wchar_t PATH_SEPARATOR = L'/';
const wchar_t* const PATH_SEPARATOR_STRING = L"/";

std::string ToNativePath(const std::wstring& path) {
  std::string out;
  out.reserve(path.size());
  for (wchar_t wc : path) {
    uint32_t c = static_cast<uint32_t>(wc);
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    if (c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring FromNativePath(const std::string& path) {
  std::wstring out;
  out.reserve(path.size());
  size_t i = 0;
  const size_t n = path.size();
  auto byte = [&](size_t k) { return static_cast<unsigned char>(path[k]); };
  while (i < n) {
    unsigned char b = byte(i);
    uint32_t c;
    size_t len;
    if (b < 0x80) { c = b; len = 1; }
    else if (b >= 0xC2 && b <= 0xDF) { c = b & 0x1F; len = 2; }
    else if (b >= 0xE0 && b <= 0xEF) { c = b & 0x0F; len = 3; }
    else if (b >= 0xF0 && b <= 0xF4) { c = b & 0x07; len = 4; }
    else { out += L'\xFFFD'; ++i; continue; }
    size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      unsigned char t = byte(i + k);
      if ((t & 0xC0) != 0x80) break;
      if (k == 1 && ((b == 0xE0 && t < 0xA0) || (b == 0xED && t > 0x9F) || (b == 0xF0 && t < 0x90) || (b == 0xF4 && t > 0x8F))) break;
      c = (c << 6) | (t & 0x3F);
    }
    if (k < len) { out += L'\xFFFD'; i += k; continue; }
    out += static_cast<wchar_t>(c);
    i += len;
  }
  return out;
}

}  // namespace platform

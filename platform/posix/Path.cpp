// posix backend of platform/Path.h: "/" and UTF-8 file names, through the
// one UTF-8 codec (platform/Utf8Codec.h). Ill-formed text becomes U+FFFD
// either way; a path never fails to convert.
#include "platform/Path.h"

#include "platform/Utf8Codec.h"

namespace platform {

const wchar_t PATH_SEPARATOR = L'/';
const wchar_t* const PATH_SEPARATOR_STRING = L"/";

std::string ToNativePath(const std::wstring& path) {
  const wchar_t* begin = path.data();
  size_t needed = 0;
  EncodeUtf8(begin, begin + path.size(), false, nullptr, 0, needed);
  std::string out(needed, '\0');
  EncodeUtf8(begin, begin + path.size(), false, out.data(), out.size(), needed);
  out.resize(needed);
  return out;
}

std::wstring FromNativePath(const std::string& path) {
  const unsigned char* begin = reinterpret_cast<const unsigned char*>(path.data());
  size_t needed = 0;
  DecodeUtf8(begin, begin + path.size(), false, nullptr, 0, needed);
  std::wstring out(needed, L'\0');
  DecodeUtf8(begin, begin + path.size(), false, out.data(), out.size(), needed);
  out.resize(needed);
  return out;
}

}  // namespace platform

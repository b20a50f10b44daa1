// Windows backend of platform/Path.h: "\" and UTF-8 as the narrow form (the
// narrow form is for logs and tools; the backend opens files by wide name).
#include "platform/Path.h"
#include "platform/win32/WinApi.h"

namespace platform {

const wchar_t PATH_SEPARATOR = L'\\';
const wchar_t* const PATH_SEPARATOR_STRING = L"\\";

std::string ToNativePath(const std::wstring& path) {
  if (path.empty()) return std::string();
  // Unpaired surrogates become U+FFFD (flags 0), like the posix backend.
  const int n = ::WideCharToMultiByte(65001, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr,
                                      nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(65001, 0, path.data(), static_cast<int>(path.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring FromNativePath(const std::string& path) {
  if (path.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(65001, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(65001, 0, path.data(), static_cast<int>(path.size()), &out[0], n);
  return out;
}

}  // namespace platform

// Path conventions of the platform.
#ifndef VERSEWELL_PLATFORM_PATH_H
#define VERSEWELL_PLATFORM_PATH_H

#include <string>

namespace platform {

// The directory separator that the system code appends and joins with
// ("\\" on Windows, "/" on posix).
extern const wchar_t PATH_SEPARATOR;
extern const wchar_t* const PATH_SEPARATOR_STRING;

// Converts a wide path to the native narrow form (UTF-8 on posix).
std::string ToNativePath(const std::wstring& path);
// The reverse; bytes that are not UTF-8 map to U+FFFD.
std::wstring FromNativePath(const std::string& path);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_PATH_H

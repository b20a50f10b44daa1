// Basic Windows-shaped types and constants shared by the system code and the
// platform layer. Header-only; no platform headers are included.
//
// DWORD comes from the backend folder chosen in CMake (TypesBackend.h): it is
// a 32-bit unsigned type everywhere, but on Windows it must be the very type
// <windows.h> declares (unsigned long), or the two typedefs clash in a
// backend file that includes both. The constants live in namespace platform
// and are plain C++ names; a Windows backend file includes <windows.h> after
// this header, through platform/win32/WinApi.h, which removes the macros of
// the same names.
#ifndef VERSEWELL_PLATFORM_TYPES_H
#define VERSEWELL_PLATFORM_TYPES_H

#include <cstdint>

#include "TypesBackend.h"  // DWORD, from the backend folder chosen in CMake

typedef int BOOL;
typedef uint16_t WORD;
typedef uint32_t UINT;
static_assert(sizeof(DWORD) == 4, "DWORD is 32 bits on every backend");

namespace platform {

// Local calendar time with milliseconds, laid out like the Windows record.
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// Windows error codes the system code tests for or records.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_TYPES_H

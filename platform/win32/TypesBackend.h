// Windows: DWORD is exactly the type <windows.h> declares (32-bit unsigned
// long under the LLP64 and ILP32 models), so both declarations may meet in
// one file.
#ifndef VERSEWELL_PLATFORM_WIN32_TYPES_BACKEND_H
#define VERSEWELL_PLATFORM_WIN32_TYPES_BACKEND_H

typedef unsigned long DWORD;

#endif  // VERSEWELL_PLATFORM_WIN32_TYPES_BACKEND_H

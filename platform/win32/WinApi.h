// <windows.h> and <winhttp.h> for the Windows backend files, without the
// macros that would rename or replace this system's own names.
//
// Include it LAST in a backend file, after every platform header. Then:
//  - the constants the platform headers declare (ERROR_*, CP_*, MB_*, WC_*,
//    WINHTTP_*) were parsed as C++ names before the Windows macros of the
//    same name existed; below, the macros name the same numbers;
//  - the A/W function macros whose names are also platform functions
//    (CreateDirectory, DeleteFile, the private-profile calls) are removed,
//    so the backend calls the W functions by their full names.
// Inside namespace platform an unqualified WriteFile, CloseHandle,
// GetLastError, ... means the platform function; the Windows one is
// spelled ::WriteFile.
#ifndef VERSEWELL_PLATFORM_WIN32_WIN_API_H
#define VERSEWELL_PLATFORM_WIN32_WIN_API_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CreateDirectory
#undef DeleteFile
#undef GetPrivateProfileString
#undef WritePrivateProfileString
#undef GetPrivateProfileSectionNames
#undef CreateFile
#undef MoveFileEx
#undef FormatMessage
#undef GetModuleFileName
#undef OutputDebugString

#endif  // VERSEWELL_PLATFORM_WIN32_WIN_API_H

// posix: DWORD is a plain 32-bit unsigned integer.
#ifndef VERSEWELL_PLATFORM_POSIX_TYPES_BACKEND_H
#define VERSEWELL_PLATFORM_POSIX_TYPES_BACKEND_H

#include <cstdint>

typedef uint32_t DWORD;

#endif  // VERSEWELL_PLATFORM_POSIX_TYPES_BACKEND_H

// GCC/Clang on ELF: default visibility for the one export; init_priority so
// that the trace log is constructed first and destroyed last among the
// library's static objects, and the registry right after it.
#ifndef VERSEWELL_PLATFORM_POSIX_EXPORT_BACKEND_H
#define VERSEWELL_PLATFORM_POSIX_EXPORT_BACKEND_H

#define VERSEWELL_EXPORT __attribute__((visibility("default")))
#define VERSEWELL_USED __attribute__((used))
#define VERSEWELL_INIT_FIRST __attribute__((init_priority(101)))
#define VERSEWELL_INIT_SECOND __attribute__((init_priority(102)))

// GetDllInterface: an allocation failure reaches the host as std::bad_alloc,
// as the public header says (host and plug-in share one toolchain).
#define VERSEWELL_EXPORT_ALLOCATION_FAILURE_THROWS 1

#endif  // VERSEWELL_PLATFORM_POSIX_EXPORT_BACKEND_H

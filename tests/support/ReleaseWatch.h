// Seeing, from a host program, when a loaded library releases memory: the
// unload tests watch the addresses of plug-in objects and need to know when
// each is given back.
//
// posix (tests/support/posix/ReleaseWatch.cpp): the program replaces the
// global operator new and delete and exports them (ENABLE_EXPORTS), so a
// library loaded later binds its deletions to the program's operator
// delete, which reports every address to the observer.
// Windows (tests/support/win32/ReleaseWatch.cpp): a DLL carries its own
// operator delete (libstdc++ is linked statically) and ends in the C
// runtime's free(), imported by name; the library's import entry for free
// is pointed at a function that reports the address and then frees it.
//
// Either way the observer sees every release of the library's heap blocks
// (and on posix the program's own too) on the releasing thread; it must be
// safe to call from any thread and must not allocate. One observer per
// program.
#ifndef VERSEWELL_TESTS_SUPPORT_RELEASE_WATCH_H
#define VERSEWELL_TESTS_SUPPORT_RELEASE_WATCH_H

typedef void (*ReleaseObserver)(void* address);

// Reports every release `library` (a handle from LoadSharedLibrary) makes
// to `observer` from now until it is unloaded. False when the watch cannot
// be set up (the test cannot see releases then).
bool WatchLibraryReleases(void* library, ReleaseObserver observer);

#endif  // VERSEWELL_TESTS_SUPPORT_RELEASE_WATCH_H

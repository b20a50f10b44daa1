// Loading a shared library as a host does: dlopen/dlsym/dlclose on posix,
// LoadLibraryW/GetProcAddress/FreeLibrary on Windows. For tests that see the
// plug-in only through its file and its exported entry. Any thread may call;
// the caller owns the handle and unloads it once.
#ifndef VERSEWELL_TESTS_SUPPORT_LOADED_LIBRARY_H
#define VERSEWELL_TESTS_SUPPORT_LOADED_LIBRARY_H

#include <string>

// Loads the library at `path` (UTF-8; under Wine a Linux path is taken as
// its Z: drive form) with every symbol resolved now. Null on failure (see
// LoaderError).
void* LoadSharedLibrary(const std::string& path);
// The address of the exported `name`, or null.
void* FindLibrarySymbol(void* library, const char* name);
// Unloads the library; false on failure.
bool UnloadSharedLibrary(void* library);
// Whether the library at `path` is still mapped into this process (loaded
// by anyone), without loading it or changing its reference count.
bool SharedLibraryIsLoaded(const std::string& path);
// The loader's text for the calling thread's last failure.
std::string LoaderError();

#endif  // VERSEWELL_TESTS_SUPPORT_LOADED_LIBRARY_H

// posix backend of support/LoadedLibrary.h: the dynamic loader, each library
// loaded with its symbols kept local, as a host loads a plug-in.
#include "support/LoadedLibrary.h"

#include <dlfcn.h>

void* LoadSharedLibrary(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* FindLibrarySymbol(void* library, const char* name) { return ::dlsym(library, name); }

bool UnloadSharedLibrary(void* library) { return ::dlclose(library) == 0; }

bool SharedLibraryIsLoaded(const std::string& path) {
  // RTLD_NOLOAD hands out a handle only to a library already loaded; that
  // handle's reference is given back at once.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) ::dlclose(handle);
  return handle != nullptr;
}

std::string LoaderError() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "";
}

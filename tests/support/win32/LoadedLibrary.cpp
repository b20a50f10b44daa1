// Windows backend of support/LoadedLibrary.h: LoadLibraryW and friends. The
// build passes Linux paths of the built DLL; under Wine the Z: drive is the
// Linux root, so such a path is loaded through its Z: form.
#include "support/LoadedLibrary.h"

#include <windows.h>

#include <string>

namespace {

// The Windows form of `path` (UTF-8): a Linux path becomes its Z: form.
std::wstring LoaderPath(const std::string& path) {
  std::wstring wide(path.size() + 1, L'\0');
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0],
                                      static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  if (!wide.empty() && wide[0] == L'/') {
    for (wchar_t& c : wide)
      if (c == L'/') c = L'\\';
    wide = L"Z:" + wide;
  }
  return wide;
}

}  // namespace

// Standalone (no product code): host-view programs link only this file.
void* LoadSharedLibrary(const std::string& path) {
  return reinterpret_cast<void*>(::LoadLibraryW(LoaderPath(path).c_str()));
}

bool SharedLibraryIsLoaded(const std::string& path) {
  // GetModuleHandleW takes no reference; a full path matches the module
  // loaded from that file.
  return ::GetModuleHandleW(LoaderPath(path).c_str()) != nullptr;
}

void* FindLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

bool UnloadSharedLibrary(void* library) { return ::FreeLibrary(static_cast<HMODULE>(library)) != FALSE; }

std::string LoaderError() { return "Windows error " + std::to_string(::GetLastError()); }

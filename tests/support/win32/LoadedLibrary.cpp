// Windows backend of support/LoadedLibrary.h: LoadLibraryW and friends. The
// build passes Linux paths of the built DLL; under Wine the Z: drive is the
// Linux root, so such a path is loaded through its Z: form.
#include "support/LoadedLibrary.h"

#include <windows.h>

#include <string>

// Standalone (no product code): host-view programs link only this file.
void* LoadSharedLibrary(const std::string& path) {
  std::wstring wide(path.size() + 1, L'\0');
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0],
                                      static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  if (!wide.empty() && wide[0] == L'/') {
    for (wchar_t& c : wide)
      if (c == L'/') c = L'\\';
    wide = L"Z:" + wide;
  }
  return reinterpret_cast<void*>(::LoadLibraryW(wide.c_str()));
}

void* FindLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

bool UnloadSharedLibrary(void* library) { return ::FreeLibrary(static_cast<HMODULE>(library)) != FALSE; }

std::string LoaderError() { return "Windows error " + std::to_string(::GetLastError()); }

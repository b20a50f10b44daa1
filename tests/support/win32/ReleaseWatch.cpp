// Windows backend of support/ReleaseWatch.h: the DLL's import of the C
// runtime's free() is redirected. Replacing operator delete in the program
// does not reach a DLL (each module binds its own), but every deletion in
// the DLL ends in free() called through its import address table.
#include "support/ReleaseWatch.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace {

typedef void(__cdecl* FreeFunction)(void*);

std::atomic<ReleaseObserver> g_observer{nullptr};
std::atomic<FreeFunction> g_realFree{nullptr};

void __cdecl WatchedFree(void* p) {
  if (p != nullptr)
    if (ReleaseObserver observer = g_observer.load()) observer(p);
  g_realFree.load()(p);
}

template <typename T>
T* At(HMODULE module, DWORD offset) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

}  // namespace

bool WatchLibraryReleases(void* library, ReleaseObserver observer) {
  if (library == nullptr || observer == nullptr) return false;
  HMODULE module = static_cast<HMODULE>(library);
  const IMAGE_DOS_HEADER* dos = At<IMAGE_DOS_HEADER>(module, 0);
  const IMAGE_NT_HEADERS* nt = At<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  g_observer = observer;
  bool patched = false;
  for (IMAGE_IMPORT_DESCRIPTOR* d = At<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); d->Name != 0; ++d) {
    if (d->OriginalFirstThunk == 0) continue;  // no names to match
    IMAGE_THUNK_DATA* names = At<IMAGE_THUNK_DATA>(module, d->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slots = At<IMAGE_THUNK_DATA>(module, d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* byName = At<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "free") != 0) continue;
      FreeFunction current = reinterpret_cast<FreeFunction>(slots->u1.Function);
      if (current == &WatchedFree) return true;  // already watched
      g_realFree = current;
      DWORD old = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) return false;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(&WatchedFree);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      patched = true;
    }
  }
  return patched;
}

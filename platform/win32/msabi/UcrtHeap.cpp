// Universal C Runtime heap, reached through LoadLibraryW/GetProcAddress at
// first use: importing ucrtbase's malloc beside msvcrt's would clash in the
// mingw import libraries, and the module stays loaded for the life of the
// process once taken.
#include "platform/win32/msabi/UcrtHeap.h"

#include <atomic>
#include <cstdint>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace msabi {
namespace {

struct SUcrt {
  PFN_Malloc pfnMalloc = nullptr;
  PFN_Free pfnFree = nullptr;
};

const SUcrt& Ucrt() {
  static const SUcrt ucrt = [] {
    SUcrt u;
    HMODULE module = ::LoadLibraryW(L"ucrtbase.dll");
    if (module != nullptr) {
      u.pfnMalloc = reinterpret_cast<PFN_Malloc>(reinterpret_cast<void*>(::GetProcAddress(module, "malloc")));
      u.pfnFree = reinterpret_cast<PFN_Free>(reinterpret_cast<void*>(::GetProcAddress(module, "free")));
      if (u.pfnMalloc == nullptr || u.pfnFree == nullptr) u = SUcrt();
    }
    return u;
  }();
  return ucrt;
}

std::atomic<PFN_Malloc> g_pfnTestMalloc{nullptr};
std::atomic<PFN_Free> g_pfnTestFree{nullptr};

}  // namespace

void SetUcrtHeapForTesting(PFN_Malloc pfnMalloc, PFN_Free pfnFree) {
  g_pfnTestMalloc = pfnMalloc;
  g_pfnTestFree = pfnFree;
}

void* UcrtMalloc(size_t bytes) {
  if (PFN_Malloc test = g_pfnTestMalloc.load()) return test(bytes);
  const SUcrt& u = Ucrt();
  return u.pfnMalloc != nullptr ? u.pfnMalloc(bytes) : nullptr;
}

void UcrtFree(void* block) {
  if (PFN_Free test = g_pfnTestFree.load()) return test(block);
  const SUcrt& u = Ucrt();
  if (u.pfnFree != nullptr) u.pfnFree(block);
}

void* StlAllocate(size_t bytes) {
  if (bytes == 0) return nullptr;
  if (bytes < BIG_ALLOCATION_THRESHOLD) return UcrtMalloc(bytes);
  if (bytes + BIG_ALLOCATION_EXTRA <= bytes) return nullptr;
  const uintptr_t container = reinterpret_cast<uintptr_t>(UcrtMalloc(bytes + BIG_ALLOCATION_EXTRA));
  if (container == 0) return nullptr;
  const uintptr_t user = (container + BIG_ALLOCATION_EXTRA) & ~static_cast<uintptr_t>(BIG_ALLOCATION_ALIGNMENT - 1);
  reinterpret_cast<uintptr_t*>(user)[-1] = container;
  return reinterpret_cast<void*>(user);
}

void StlDeallocate(void* block, size_t bytes) {
  if (block == nullptr) return;
  if (bytes >= BIG_ALLOCATION_THRESHOLD) block = reinterpret_cast<void*>(static_cast<uintptr_t*>(block)[-1]);
  UcrtFree(block);
}

}  // namespace msabi

// The heap behind a Microsoft-built host's operator new and delete: the
// Universal C Runtime's malloc and free (ucrtbase.dll). Song list nodes and
// std::wstring buffers that cross the boundary come from here and go back
// here, because the host frees what the plug-in made and the other way
// round. It is not the process heap (not under Wine either), and not
// msvcrt.dll's heap, which the rest of the plug-in uses.
//
// StlAllocate/StlDeallocate follow Microsoft's standard library (release
// build, x86 and x64) for element types of default alignment: a block of
// 4096 bytes or more is over-allocated by sizeof(void*) + 31 bytes, the user
// block is 32-byte aligned inside it, and the address of the real block is
// stored in the pointer-sized word just before the user block (the debug
// build's extra sentinel word is not written in a release build). The size
// passed to StlDeallocate must be the size the block was allocated with,
// as the host computes it (for a wstring: (capacity + 1) * sizeof(wchar_t)).
//
// Failure: the allocators return null when the heap is exhausted or
//   ucrtbase.dll cannot be loaded; they never throw.
// Threads: any thread.
#ifndef VERSEWELL_PLATFORM_WIN32_MSABI_UCRT_HEAP_H
#define VERSEWELL_PLATFORM_WIN32_MSABI_UCRT_HEAP_H

#include <cstddef>

namespace msabi {

const size_t BIG_ALLOCATION_THRESHOLD = 4096;
const size_t BIG_ALLOCATION_ALIGNMENT = 32;
const size_t BIG_ALLOCATION_EXTRA = sizeof(void*) + BIG_ALLOCATION_ALIGNMENT - 1;

void* UcrtMalloc(size_t bytes);
void UcrtFree(void* block);

void* StlAllocate(size_t bytes);
void StlDeallocate(void* block, size_t bytes);

// Test seam: replaces the two ucrtbase calls (null restores them).
typedef void* (*PFN_Malloc)(size_t);
typedef void (*PFN_Free)(void*);
void SetUcrtHeapForTesting(PFN_Malloc pfnMalloc, PFN_Free pfnFree);

}  // namespace msabi

#endif  // VERSEWELL_PLATFORM_WIN32_MSABI_UCRT_HEAP_H

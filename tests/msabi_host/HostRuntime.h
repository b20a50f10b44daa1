// The test host's whole runtime: it is built without Microsoft's C and C++
// runtime (no headers, no libraries but the kernel32 and ucrtbase import
// libraries), so this declares the few Kernel32 and Universal C Runtime
// functions it calls and supplies what the compiler expects of a runtime.
//
// The heap: every block the host allocates, and every block versewell.dll
// allocates or frees through its ucrtbase imports (which the host redirects
// here after loading the library, PatchHeapImports), passes through one
// tracker that records who allocated it and checks every pointer it is
// handed: a free of a block that was already freed, or of a pointer the heap
// never gave out, is counted as an error and not passed on.
//
// Output: Emit writes one record per line to standard output, UTF-8, fields
// separated by tabs, with backslash, tab, CR and LF escaped.
//
// Threads: the tracker takes a spin lock, so any thread may allocate and
// free; everything else is used by the host's one thread.
#ifndef VERSEWELL_MSABI_HOST_RUNTIME_H
#define VERSEWELL_MSABI_HOST_RUNTIME_H

typedef decltype(sizeof(0)) size_t;
typedef decltype((char*)0 - (char*)0) ptrdiff_t;
typedef unsigned long DWORD;
typedef void* HANDLE;
typedef void* HMODULE;

#define WINAPI __stdcall

extern "C" {
__declspec(dllimport) void* __cdecl malloc(size_t size);
__declspec(dllimport) void __cdecl free(void* block);
__declspec(dllimport) void* __cdecl realloc(void* block, size_t size);
__declspec(dllimport) void* __cdecl calloc(size_t count, size_t size);
void* __cdecl memcpy(void* to, const void* from, size_t size);
void* __cdecl memset(void* to, int value, size_t size);
int __cdecl memcmp(const void* a, const void* b, size_t size);
__declspec(dllimport) size_t __cdecl wcslen(const wchar_t* text);

__declspec(dllimport) void WINAPI ExitProcess(unsigned int code);
__declspec(dllimport) HANDLE WINAPI GetStdHandle(DWORD which);
__declspec(dllimport) int WINAPI WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void* overlapped);
__declspec(dllimport) int WINAPI ReadFile(HANDLE file, void* data, DWORD size, DWORD* read, void* overlapped);
__declspec(dllimport) HANDLE WINAPI CreateFileW(const wchar_t* name, DWORD access, DWORD share, void* security,
                                                DWORD disposition, DWORD flags, HANDLE templateFile);
__declspec(dllimport) int WINAPI CloseHandle(HANDLE handle);
__declspec(dllimport) int WINAPI CreateDirectoryW(const wchar_t* name, void* security);
__declspec(dllimport) HMODULE WINAPI LoadLibraryW(const wchar_t* name);
__declspec(dllimport) HMODULE WINAPI GetModuleHandleW(const wchar_t* name);
__declspec(dllimport) int WINAPI FreeLibrary(HMODULE module);
__declspec(dllimport) void* WINAPI GetProcAddress(HMODULE module, const char* name);
__declspec(dllimport) int WINAPI VirtualProtect(void* address, size_t size, DWORD protect, DWORD* oldProtect);
__declspec(dllimport) void* WINAPI VirtualAlloc(void* address, size_t size, DWORD type, DWORD protect);
__declspec(dllimport) DWORD WINAPI GetEnvironmentVariableW(const wchar_t* name, wchar_t* buffer, DWORD size);
__declspec(dllimport) int WINAPI WideCharToMultiByte(unsigned int codePage, DWORD flags, const wchar_t* wide,
                                                     int wideLength, char* narrow, int narrowSize,
                                                     const char* defaultChar, int* usedDefault);
__declspec(dllimport) void WINAPI RaiseException(DWORD code, DWORD flags, DWORD count, const size_t* arguments);
__declspec(dllimport) HANDLE WINAPI FindFirstFileW(const wchar_t* pattern, void* data);
__declspec(dllimport) int WINAPI FindClose(HANDLE find);
__declspec(dllimport) DWORD WINAPI GetTickCount();
}

inline void* operator new(size_t, void* place) noexcept { return place; }

namespace msabi {

// Who a live heap block came from.
enum class EOrigin { Host, Plugin };

// The heap's ledger, printed at the end.
struct SHeapCounts {
  unsigned int nHostAllocs = 0;           // blocks the host allocated
  unsigned int nHostFreesOfOwn = 0;       // ... and freed itself
  unsigned int nHostFreedByPlugin = 0;    // host blocks the plug-in freed
  unsigned int nPluginAllocs = 0;         // blocks the plug-in allocated
  unsigned int nPluginFreesOfOwn = 0;     // ... and freed itself
  unsigned int nPluginFreedByHost = 0;    // plug-in blocks the host freed
  unsigned int nPluginUntrackedFrees = 0;  // plug-in frees of blocks older than the redirection
  unsigned int nDoubleFrees = 0;          // a block freed again
  unsigned int nForeignFrees = 0;         // a pointer the heap never gave out
  unsigned int nLiveHost = 0;
  unsigned int nLivePlugin = 0;
};

// The host's heap (ucrtbase malloc/free, as Microsoft's operator new uses).
void* HostAlloc(size_t size);
void HostFree(void* block);
// The state of a pointer in the ledger: 0 unknown, 1 live host block,
// 2 live plug-in block, 3 freed.
int BlockState(const void* block);
const SHeapCounts& HeapCounts();

// Redirects versewell.dll's heap imports from ucrtbase (or the CRT's heap
// API set) to the tracker, and its GetProcAddress import, so that ucrtbase's
// malloc and free looked up at run time lead there too.
void PatchHeapImports(HMODULE module);
// How often the plug-in was given ucrtbase's malloc or free (imported or
// looked up).
int HeapRoutesSeen();

// Output.
void Emit(const wchar_t* const* fields, int count);
void EmitRaw(const char* text);
// Decimal text of `value` into `buffer` (at least 24 characters). 32 bits:
// the i686 build has no 64-bit division helpers.
const wchar_t* Decimal(long value, wchar_t* buffer);

// One check of the host: printed as a "check" record; failures make the
// exit code 1.
void Check(bool ok, const wchar_t* name, const wchar_t* detail = L"");
int FailedChecks();

// Environment value `name`, or empty, in `buffer` of `size` characters.
const wchar_t* Env(const wchar_t* name, wchar_t* buffer, DWORD size);

bool WideEqual(const wchar_t* a, const wchar_t* b);

}  // namespace msabi

#endif  // VERSEWELL_MSABI_HOST_RUNTIME_H

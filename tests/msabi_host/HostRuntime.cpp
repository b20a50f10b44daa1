// The test host's runtime: heap ledger, import redirection, output.
#include "HostRuntime.h"

// What the compiler expects of a C runtime.
extern "C" int _fltused = 0;
extern "C" int __cdecl _purecall() {
  msabi::EmitRaw("fatal\tpure virtual call\n");
  ExitProcess(3);
  return 0;
}

void* operator new(size_t size) { return msabi::HostAlloc(size); }
void operator delete(void* block) noexcept { msabi::HostFree(block); }
void operator delete(void* block, size_t) noexcept { msabi::HostFree(block); }

namespace msabi {
namespace {

// Open addressing on the block address; an entry is never removed, only
// marked freed, so a slot once taken stays with its address.
struct SEntry {
  size_t address;
  int state;  // 1 live host, 2 live plug-in, 3 freed
};
constexpr size_t LEDGER_SLOTS = size_t(1) << 20;
SEntry* g_pLedger = nullptr;
SHeapCounts g_counts;
volatile long g_nLock = 0;
int g_nFailedChecks = 0;

void Lock() {
  while (__atomic_exchange_n(&g_nLock, 1, __ATOMIC_ACQUIRE) != 0) {
  }
}
void Unlock() { __atomic_store_n(&g_nLock, 0, __ATOMIC_RELEASE); }

SEntry* Slot(const void* block, bool insert) {
  if (g_pLedger == nullptr) {
    g_pLedger = static_cast<SEntry*>(VirtualAlloc(nullptr, LEDGER_SLOTS * sizeof(SEntry), 0x3000, 0x04));
    if (g_pLedger == nullptr) {
      EmitRaw("fatal\tno memory for the heap ledger\n");
      ExitProcess(3);
    }
  }
  size_t address = reinterpret_cast<size_t>(block);
  size_t i = (address >> 4) * 2654435761u % LEDGER_SLOTS;
  for (size_t n = 0; n < LEDGER_SLOTS; ++n, i = (i + 1) % LEDGER_SLOTS) {
    if (g_pLedger[i].address == address) return &g_pLedger[i];
    if (g_pLedger[i].address == 0) {
      if (!insert) return nullptr;
      g_pLedger[i].address = address;
      return &g_pLedger[i];
    }
  }
  EmitRaw("fatal\theap ledger full\n");
  ExitProcess(3);
  return nullptr;
}

void Record(void* block, EOrigin origin);
bool Release(void* block, EOrigin by);

void Record(void* block, EOrigin origin) {
  if (block == nullptr) return;
  Lock();
  SEntry* e = Slot(block, true);
  e->state = origin == EOrigin::Host ? 1 : 2;
  if (origin == EOrigin::Host) {
    ++g_counts.nHostAllocs;
    ++g_counts.nLiveHost;
  } else {
    ++g_counts.nPluginAllocs;
    ++g_counts.nLivePlugin;
  }
  Unlock();
}

// Books a free by `by`; false when the pointer must not reach free().
bool Release(void* block, EOrigin by) {
  Lock();
  SEntry* e = Slot(block, false);
  bool pass = true;
  if (e == nullptr) {
    // Plug-in blocks allocated before its imports were redirected.
    if (by == EOrigin::Plugin) {
      ++g_counts.nPluginUntrackedFrees;
    } else {
      ++g_counts.nForeignFrees;
      pass = false;
    }
  } else if (e->state == 3) {
    ++g_counts.nDoubleFrees;
    pass = false;
  } else {
    bool hostBlock = e->state == 1;
    if (hostBlock) {
      --g_counts.nLiveHost;
      ++(by == EOrigin::Host ? g_counts.nHostFreesOfOwn : g_counts.nHostFreedByPlugin);
    } else {
      --g_counts.nLivePlugin;
      ++(by == EOrigin::Plugin ? g_counts.nPluginFreesOfOwn : g_counts.nPluginFreedByHost);
    }
    e->state = 3;
  }
  Unlock();
  return pass;
}

// The plug-in's heap, as seen through its redirected imports.
void* __cdecl PluginMalloc(size_t size) {
  void* block = malloc(size);
  Record(block, EOrigin::Plugin);
  return block;
}
void* __cdecl PluginCalloc(size_t count, size_t size) {
  void* block = calloc(count, size);
  Record(block, EOrigin::Plugin);
  return block;
}
void __cdecl PluginFree(void* block) {
  if (block != nullptr && Release(block, EOrigin::Plugin)) free(block);
}
void* __cdecl PluginRealloc(void* block, size_t size) {
  if (block == nullptr) return PluginMalloc(size);
  if (BlockState(block) == 3) {
    Release(block, EOrigin::Plugin);  // booked as a double free
    return nullptr;
  }
  void* moved = realloc(block, size);
  if (moved == nullptr && size != 0) return nullptr;  // the old block stays
  Release(block, EOrigin::Plugin);
  Record(moved, EOrigin::Plugin);
  return moved;
}

int g_nHeapRoutes = 0;  // malloc/free of ucrtbase handed to the plug-in as hooks

bool NameIs(const char* name, const char* expected);

// The plug-in may also look the heap up at run time.
void* WINAPI PluginGetProcAddress(HMODULE module, const char* name) {
  bool byName = reinterpret_cast<size_t>(name) > 0xffff;
  if (byName && module == GetModuleHandleW(L"ucrtbase.dll")) {
    if (NameIs(name, "malloc")) return ++g_nHeapRoutes, reinterpret_cast<void*>(&PluginMalloc);
    if (NameIs(name, "free")) return ++g_nHeapRoutes, reinterpret_cast<void*>(&PluginFree);
    if (NameIs(name, "calloc")) return reinterpret_cast<void*>(&PluginCalloc);
    if (NameIs(name, "realloc")) return reinterpret_cast<void*>(&PluginRealloc);
  }
  return GetProcAddress(module, name);
}

char ToLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
// Case-insensitive; `expected` in lower case.
bool NameIs(const char* name, const char* expected) {
  for (; *expected != 0; ++name, ++expected)
    if (ToLower(*name) != *expected) return false;
  return *name == 0;
}
bool NameStarts(const char* name, const char* prefix) {
  for (; *prefix != 0; ++name, ++prefix)
    if (ToLower(*name) != *prefix) return false;
  return true;
}

void Write(const char* data, size_t size) {
  DWORD written = 0;
  WriteFile(GetStdHandle(DWORD(-11)), data, DWORD(size), &written, nullptr);
}

}  // namespace

void* HostAlloc(size_t size) {
  void* block = malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    EmitRaw("fatal\thost out of memory\n");
    ExitProcess(3);
  }
  Record(block, EOrigin::Host);
  return block;
}

void HostFree(void* block) {
  if (block != nullptr && Release(block, EOrigin::Host)) free(block);
}

int BlockState(const void* block) {
  Lock();
  SEntry* e = Slot(block, false);
  int state = e == nullptr ? 0 : e->state;
  Unlock();
  return state;
}

const SHeapCounts& HeapCounts() { return g_counts; }

void PatchHeapImports(HMODULE module) {
  const unsigned char* base = static_cast<const unsigned char*>(module);
  auto u32 = [&](size_t offset) {
    unsigned int v;
    memcpy(&v, base + offset, 4);
    return v;
  };
  size_t nt = u32(0x3c);
  unsigned short magic;
  memcpy(&magic, base + nt + 24, 2);
  // The import directory is data directory 1 of the optional header.
  size_t directories = nt + 24 + (magic == 0x20b ? 112 : 96);
  size_t imports = u32(directories + 8);
  for (size_t d = imports; u32(d + 12) != 0; d += 20) {
    const char* dll = reinterpret_cast<const char*>(base + u32(d + 12));
    bool crt = NameIs(dll, "ucrtbase.dll") || NameStarts(dll, "api-ms-win-crt-heap-");
    bool loader = NameIs(dll, "kernel32.dll") || NameStarts(dll, "api-ms-win-core-libraryloader-");
    if (!crt && !loader) continue;
    size_t names = u32(d) != 0 ? u32(d) : u32(d + 16);
    size_t thunks = u32(d + 16);
    for (size_t i = 0;; ++i) {
      size_t entry;
      memcpy(&entry, base + names + i * sizeof(size_t), sizeof(size_t));
      if (entry == 0) break;
      if ((entry >> (sizeof(size_t) * 8 - 1)) != 0) continue;  // by ordinal
      const char* name = reinterpret_cast<const char*>(base + (entry & 0x7fffffff) + 2);
      void* hook = nullptr;
      if (crt && NameIs(name, "malloc")) hook = reinterpret_cast<void*>(&PluginMalloc), ++g_nHeapRoutes;
      if (crt && NameIs(name, "free")) hook = reinterpret_cast<void*>(&PluginFree), ++g_nHeapRoutes;
      if (crt && NameIs(name, "calloc")) hook = reinterpret_cast<void*>(&PluginCalloc);
      if (crt && NameIs(name, "realloc")) hook = reinterpret_cast<void*>(&PluginRealloc);
      if (loader && NameIs(name, "getprocaddress")) hook = reinterpret_cast<void*>(&PluginGetProcAddress);
      if (hook == nullptr) continue;
      void** slot = reinterpret_cast<void**>(const_cast<unsigned char*>(base) + thunks + i * sizeof(void*));
      DWORD old = 0;
      VirtualProtect(slot, sizeof(void*), 0x04, &old);
      *slot = hook;
      VirtualProtect(slot, sizeof(void*), old, &old);
    }
  }
}

int HeapRoutesSeen() { return g_nHeapRoutes; }

void EmitRaw(const char* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  Write(text, n);
}

void Emit(const wchar_t* const* fields, int count) {
  for (int f = 0; f < count; ++f) {
    if (f > 0) Write("\t", 1);
    const wchar_t* field = fields[f] != nullptr ? fields[f] : L"(null)";
    size_t length = wcslen(field);
    // Escape, then convert in pieces.
    wchar_t chunk[512];
    size_t used = 0;
    auto flush = [&] {
      char narrow[512 * 3 + 4];
      int n = WideCharToMultiByte(65001, 0, chunk, int(used), narrow, sizeof(narrow), nullptr, nullptr);
      Write(narrow, size_t(n));
      used = 0;
    };
    for (size_t i = 0; i < length; ++i) {
      if (used + 2 >= 510) {
        // Never split a surrogate pair between two conversions.
        if (chunk[used - 1] >= 0xD800 && chunk[used - 1] <= 0xDBFF) {
          wchar_t high = chunk[--used];
          flush();
          chunk[used++] = high;
        } else {
          flush();
        }
      }
      wchar_t c = field[i];
      const wchar_t* escape = c == L'\\' ? L"\\\\" : c == L'\t' ? L"\\t" : c == L'\r' ? L"\\r" : c == L'\n' ? L"\\n" : nullptr;
      if (escape != nullptr) {
        chunk[used++] = escape[0];
        chunk[used++] = escape[1];
      } else {
        chunk[used++] = c;
      }
    }
    flush();
  }
  Write("\n", 1);
}

const wchar_t* Decimal(long value, wchar_t* buffer) {
  wchar_t digits[24];
  int n = 0;
  bool negative = value < 0;
  unsigned long v = negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[n++] = wchar_t(L'0' + v % 10u);
    v /= 10u;
  } while (v != 0);
  int o = 0;
  if (negative) buffer[o++] = L'-';
  while (n > 0) buffer[o++] = digits[--n];
  buffer[o] = 0;
  return buffer;
}

void Check(bool ok, const wchar_t* name, const wchar_t* detail) {
  if (!ok) ++g_nFailedChecks;
  const wchar_t* fields[] = {L"check", name, ok ? L"ok" : L"FAIL", detail};
  Emit(fields, 4);
}

int FailedChecks() { return g_nFailedChecks; }

const wchar_t* Env(const wchar_t* name, wchar_t* buffer, DWORD size) {
  DWORD n = GetEnvironmentVariableW(name, buffer, size);
  if (n == 0 || n >= size) buffer[0] = 0;
  return buffer;
}

bool WideEqual(const wchar_t* a, const wchar_t* b) {
  for (; *a != 0 || *b != 0; ++a, ++b)
    if (*a != *b) return false;
  return true;
}

}  // namespace msabi

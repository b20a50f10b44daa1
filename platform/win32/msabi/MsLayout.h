// The host's side of the Windows plug-in boundary, in the layouts that a
// host built with Microsoft's compiler on the MFC shared library and
// Microsoft's standard library (VS 2015-2022, release build) uses. mingw-w64
// cannot produce these through `virtual` (g++ follows the Itanium ABI), so
// every table is a plain struct of function pointers filled by hand.
//
// Facts this file relies on (checked by the static_asserts below):
//  - a Microsoft-ABI object with virtual functions starts with one pointer to
//    its table; a virtual destructor takes ONE slot (the scalar deleting
//    destructor: one unsigned flags argument, bit 0 = free the memory too,
//    returns `this`);
//  - member functions use __thiscall on i686 (`this` in ECX, the callee pops
//    the stack arguments) and the ordinary x64 convention on x86_64;
//    bool results come back in AL, BOOL/int in EAX;
//  - CStringW is one pointer to NUL-terminated UTF-16 characters, preceded
//    by CStringData {IAtlStringMgr*, int nDataLength, int nAllocLength,
//    long nRefs} (16 bytes on i686, 24 on x86_64);
//  - IAtlStringMgr has five slots: Allocate, Free, Reallocate, GetNilString,
//    Clone;
//  - std::wstring is {union {wchar_t buf[8]; wchar_t* ptr}, size_t size,
//    size_t capacity}; the buffer is in use while the capacity is 7;
//  - std::list is {node* head, size_t size}; a node is {next, prev, value};
//    the head is a sentinel that belongs to the list object.
// Threads: layouts only; see the users for their rules.
#ifndef VERSEWELL_PLATFORM_WIN32_MSABI_MS_LAYOUT_H
#define VERSEWELL_PLATFORM_WIN32_MSABI_MS_LAYOUT_H

#include <cstddef>
#include <cstdint>

#if defined(__i386__)
#define MSABI_THISCALL __attribute__((thiscall))
#else
#define MSABI_THISCALL
#endif

namespace msabi {

typedef int BOOL32;

// ---------------------------------------------------------------------------
// MFC/ATL CStringW
// ---------------------------------------------------------------------------
struct SStringMgr;

struct SStringData {
  SStringMgr* pStringMgr;
  int nDataLength;   // characters in use, without the terminating NUL
  int nAllocLength;  // characters that fit, without the terminating NUL
  long nRefs;        // 1 owned, >1 shared, <0 locked
  wchar_t* Chars() { return reinterpret_cast<wchar_t*>(this + 1); }
};
static_assert(sizeof(long) == 4, "long is 32 bits on Windows");
static_assert(sizeof(SStringData) == (sizeof(void*) == 4 ? 16 : 24), "CStringData header size");

struct SStringMgrTable {
  SStringData*(MSABI_THISCALL* Allocate)(SStringMgr* self, int nAllocLength, int nCharSize);
  void(MSABI_THISCALL* Free)(SStringMgr* self, SStringData* data);
  SStringData*(MSABI_THISCALL* Reallocate)(SStringMgr* self, SStringData* data, int nAllocLength, int nCharSize);
  SStringData*(MSABI_THISCALL* GetNilString)(SStringMgr* self);
  SStringMgr*(MSABI_THISCALL* Clone)(SStringMgr* self);
};

struct SStringMgr {
  const SStringMgrTable* vtbl;
};

// The CStringW object itself: one pointer to the characters.
struct SCString {
  wchar_t* pszData;
  SStringData* Data() const { return reinterpret_cast<SStringData*>(pszData) - 1; }
};
static_assert(sizeof(SCString) == sizeof(void*), "CStringW is one pointer");

// ---------------------------------------------------------------------------
// Microsoft's std::wstring, std::list<SongListEntry>
// ---------------------------------------------------------------------------
struct SWString {
  union {
    wchar_t buf[8];
    wchar_t* ptr;
  } bx;
  size_t size;
  size_t capacity;  // 7 while the characters are in `bx.buf`
  static const size_t SMALL_CAPACITY = 7;
  bool IsLarge() const { return capacity > SMALL_CAPACITY; }
  const wchar_t* Chars() const { return IsLarge() ? bx.ptr : bx.buf; }
};
static_assert(sizeof(SWString) == (sizeof(void*) == 4 ? 24 : 32), "std::wstring size");
static_assert(offsetof(SWString, size) == 16, "std::wstring size field follows the 16-byte union");

struct SSongListEntry {
  SWString Title;
  SWString Artist;
  SWString Extra1;
  SWString Url;
  bool Flag;
  SWString Extra2;
  SWString SourceName;
  SWString SourceId;
};
// The bool is padded to the alignment of the next wstring (a pointer's).
static_assert(offsetof(SSongListEntry, Extra2) == 4 * sizeof(SWString) + sizeof(void*), "SongListEntry padding");
static_assert(sizeof(SSongListEntry) == (sizeof(void*) == 4 ? 172 : 232), "SongListEntry size");

struct SListNode {
  SListNode* next;
  SListNode* prev;
  SSongListEntry value;
};

struct SSongList {
  SListNode* head;  // sentinel, owned by the list object
  size_t size;
};
static_assert(sizeof(SSongList) == 2 * sizeof(void*), "std::list is {head, size} in a release build");

// ---------------------------------------------------------------------------
// The plug-in object (CLyricsDllInterface) and the host's objects
// ---------------------------------------------------------------------------
struct SPluginObject;
struct SHostCallback;
struct SHostIgnore;

struct SPluginTable {
  SPluginObject*(MSABI_THISCALL* ScalarDeletingDtor)(SPluginObject* self, unsigned int flags);  // 0
  BOOL32(MSABI_THISCALL* SetProperty)(SPluginObject* self, const SCString* name, const SCString* value);  // 1
  BOOL32(MSABI_THISCALL* GetProperty)(SPluginObject* self, const SCString* name, void* value);  // 2
  BOOL32(MSABI_THISCALL* CallMethod)(SPluginObject* self, const SCString* name, void* argument);  // 3
  BOOL32(MSABI_THISCALL* FindArtistUrl)(SPluginObject* self, const SCString* artist, SCString* url);  // 4
  int(MSABI_THISCALL* FindArtistSongList)(SPluginObject* self, const SCString* artist, SSongList* songs);  // 5
  BOOL32(MSABI_THISCALL* GetLyrics)(SPluginObject* self, const SCString* songUrl, SCString* lyrics);  // 6
  BOOL32(MSABI_THISCALL* SetHostCallback)(SPluginObject* self, SHostCallback* host);  // 7
  BOOL32(MSABI_THISCALL* ExtraSearch)(SPluginObject* self, int a, int b, int c, int d);  // 8
  void(MSABI_THISCALL* NotifyHost)(SPluginObject* self);  // 9
  bool(MSABI_THISCALL* IsStopRequested)(SPluginObject* self);  // 10
  BOOL32(MSABI_THISCALL* Download)(SPluginObject* self, const SCString* url, SCString* page);  // 11
};
static_assert(sizeof(SPluginTable) == 12 * sizeof(void*), "the plug-in table has exactly 12 slots");

struct SPluginObject {
  const SPluginTable* vtbl;
};

struct SHostCallbackTable {
  SHostCallback*(MSABI_THISCALL* ScalarDeletingDtor)(SHostCallback* self, unsigned int flags);  // 0, never called
  void(MSABI_THISCALL* HostReserved1)(SHostCallback* self);  // 1, never called
  BOOL32(MSABI_THISCALL* GetHostValue)(SHostCallback* self, const SCString* name, void* value);  // 2
  void(MSABI_THISCALL* HostReserved3)(SHostCallback* self);  // 3, never called
  void(MSABI_THISCALL* Notify)(SHostCallback* self);  // 4
  bool(MSABI_THISCALL* IsStopRequested)(SHostCallback* self);  // 5
};

struct SHostCallback {
  const SHostCallbackTable* vtbl;
};

struct SHostIgnoreTable {
  void(MSABI_THISCALL* HostReserved0)(SHostIgnore* self);  // 0, never called
  BOOL32(MSABI_THISCALL* AddIgnoredHost)(SHostIgnore* self, const wchar_t* host, unsigned int value);  // 1
  BOOL32(MSABI_THISCALL* RemoveIgnoredHost)(SHostIgnore* self, const wchar_t* host);  // 2
};

struct SHostIgnore {
  const SHostIgnoreTable* vtbl;
};

}  // namespace msabi

#endif  // VERSEWELL_PLATFORM_WIN32_MSABI_MS_LAYOUT_H

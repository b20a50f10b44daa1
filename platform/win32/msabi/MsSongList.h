// Microsoft's std::wstring and std::list<SongListEntry> (VS 2015-2022,
// release layout) on the heap of the host's operator new (UcrtHeap.h):
// reading them into this side's types, building them, and freeing them the
// way the host's library does.
//
// Ownership: strings and nodes built here belong to whoever owns the list
//   afterwards (the host, for a list the plug-in filled); FreeNodes and
//   DestroyWString give blocks back exactly as the host's library would
//   (size from the capacity, the large-block rule included).
// Failure: the builders return false on exhausted memory and leave the
//   list or string as it was; readers do not fail short of bad_alloc.
// Threads: a list is used by one thread at a time.
#ifndef VERSEWELL_PLATFORM_WIN32_MSABI_MS_SONG_LIST_H
#define VERSEWELL_PLATFORM_WIN32_MSABI_MS_SONG_LIST_H

#include <list>
#include <string>

#include <versewell/plugin.h>

#include "platform/win32/msabi/MsLayout.h"

namespace msabi {

// A wstring in raw memory `s` with the text; false when memory ran out (then
// `s` is an empty string that owns nothing).
bool ConstructWString(SWString* s, const wchar_t* text, size_t length);
void DestroyWString(SWString* s);
inline std::wstring ReadWString(const SWString& s) { return std::wstring(s.Chars(), s.size); }

// The entries of `list`, in order.
std::list<SongListEntry> ReadSongList(const SSongList& list);
// Replaces the entries of `list` with `entries`: the new nodes are built
// first, so that on false (memory ran out) the list is untouched; then the
// old nodes are freed and the new ones linked in.
bool ReplaceSongList(SSongList* list, const std::list<SongListEntry>& entries);

// The host side's own list object: a head node from the same heap. False
// when memory ran out. DestroySongList frees the entries and the head.
bool ConstructSongList(SSongList* list);
void DestroySongList(SSongList* list);

}  // namespace msabi

#endif  // VERSEWELL_PLATFORM_WIN32_MSABI_MS_SONG_LIST_H

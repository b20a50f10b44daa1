// The Windows host header seen with the test host's own CString, wstring
// and list in place of MFC's and Microsoft's standard library.
#ifndef VERSEWELL_MSABI_HOST_TYPES_H
#define VERSEWELL_MSABI_HOST_TYPES_H

#include "HostStl.h"
#include "HostStrings.h"

typedef msabi::CStringW CString;
namespace versewell_host {
typedef msstl::wstring WString;
template <class T>
using List = msstl::list<T>;
}  // namespace versewell_host

#define VERSEWELL_HOST_TYPES
#include <versewell/plugin_windows.h>

// Microsoft's layout rules, as clang applies them for this target: the
// derived record starts after the whole base (its tail padding is not
// reused), and the list node is {next, prev, value}.
static_assert(sizeof(SongEntry) == (sizeof(void*) == 8 ? 136 : 100), "SongEntry: four wstrings and a bool");
static_assert(sizeof(SongListEntry) == (sizeof(void*) == 8 ? 232 : 172), "SongListEntry: base then three wstrings");
static_assert(__builtin_offsetof(SongListEntry, Extra2) == sizeof(SongEntry), "no field in the base's tail padding");
static_assert(__builtin_offsetof(SongEntry, Flag) == 4 * sizeof(msstl::wstring), "Flag after the four wstrings");
static_assert(sizeof(msstl::list<SongListEntry>::node) == 2 * sizeof(void*) + sizeof(SongListEntry), "list node");
static_assert(sizeof(msstl::list<SongListEntry>) == 2 * sizeof(void*), "list: head pointer and size");

#endif  // VERSEWELL_MSABI_HOST_TYPES_H

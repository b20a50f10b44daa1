// The Versewell host interface for Windows hosts built with Microsoft's
// compiler (Microsoft C++ ABI).
//
// versewell.dll exports one function, GetDllInterface (undecorated, cdecl).
// A host loads the library with LoadLibraryW, resolves GetDllInterface with
// GetProcAddress and receives plug-in objects through CLyricsDllInterface.
// The classes below are declared in the order the library's tables use, so
// a host compiled with Microsoft's compiler (or any compiler following its
// C++ ABI, such as clang with an *-pc-windows-msvc target) calls the right
// slot with the right convention: one scalar deleting destructor in slot 0,
// __thiscall on 32-bit x86, Microsoft's x64 convention on 64-bit.
//
// Types shared across the boundary are the host's own:
//   - CString is MFC's CStringW (Unicode build): one pointer to the
//     characters, with the CStringData header (string manager, data length,
//     allocated length, reference count) in front of them. The plug-in reads
//     host strings through that header and writes them through the manager
//     the header names, as the host's own class would.
//   - The song list is Microsoft's std::list of SongListEntry, and the text
//     fields are Microsoft's std::wstring (release layout, no iterator
//     debugging), allocated on the Universal C Runtime's heap (ucrtbase's
//     malloc/free), the heap the host's operator new and delete use.
// A host that includes this header as it is gets those types from MFC and
// its standard library. A host that brings layout-identical types of its own
// defines VERSEWELL_HOST_TYPES and declares, before including this header,
// a class CString and, in namespace versewell_host, the types WString and
// List<T>.
//
// Ownership:
//   - The host owns every plug-in object and ends its life with `delete`
//     through CLyricsDllInterface (slot 0). Objects still alive when the
//     library is unloaded are deleted by the library, oldest first.
//   - The host owns its CHostCallback and CHostIgnore objects; the plug-in
//     never deletes them and uses them only while they are registered.
//   - The host owns the song list it passes to FindArtistSongList; the
//     entries the plug-in links into it are the host's from then on and are
//     freed by the host's library as any of its own.
//   - Strings the plug-in hands to the host's callback (the name given to
//     GetHostValue, the preset "HttpProxy" target) carry a string manager of
//     the plug-in's own; the host may assign to, copy and free them through
//     that manager on any thread.
// Failure: every operation reports failure as a 0 result (or an empty list)
//   plus a line in the plug-in's trace log; nothing is thrown to the host.
//   A host callback that throws makes the running operation fail; it is not
//   passed back.
// Threads: as in plugin.h: one plug-in object is driven by one host thread
//   at a time; distinct objects may be used from different threads at once.
//
// Virtual slot order is part of the contract and must not change.
#ifndef VERSEWELL_PLUGIN_WINDOWS_H
#define VERSEWELL_PLUGIN_WINDOWS_H

#ifndef VERSEWELL_HOST_TYPES
#include <afxstr.h>

#include <list>
#include <string>

namespace versewell_host {
typedef std::wstring WString;
template <class T>
using List = std::list<T>;
}  // namespace versewell_host
#endif

typedef int BOOL;

// One song as the plug-in reports it. Field order is part of the ABI.
struct SongEntry {
  versewell_host::WString Title;
  versewell_host::WString Artist;
  versewell_host::WString Extra1;
  versewell_host::WString Url;
  bool Flag = false;

  SongEntry() = default;
  // Leaves Url empty.
  SongEntry(const versewell_host::WString& title, const versewell_host::WString& artist,
            const versewell_host::WString& extra1, bool flag)
      : Title(title), Artist(artist), Extra1(extra1), Flag(flag) {}
  SongEntry(const SongEntry&) = default;
  SongEntry& operator=(const SongEntry&) = default;
};

// The element type of the host's song list: a SongEntry plus the identity of
// the plug-in that produced it.
struct SongListEntry : SongEntry {
  versewell_host::WString Extra2;
  versewell_host::WString SourceName;
  versewell_host::WString SourceId;

  SongListEntry() = default;
  explicit SongListEntry(const SongEntry& entry) : SongEntry(entry) {}
  SongListEntry(const SongListEntry&) = default;
  SongListEntry& operator=(const SongListEntry&) = default;
};

// The host's object that keeps hosts whose traffic the host should ignore.
// The plug-in calls slots 1 and 2 around every download; results are unused.
class CHostIgnore {
 public:
  // Slot 0: the host's own; never called by the plug-in.
  virtual void HostReserved0() {}
  // Slot 1: `host` is a NUL-terminated wide host name; `value` is always 1.
  virtual BOOL AddIgnoredHost(const wchar_t* host, unsigned int value) = 0;
  // Slot 2.
  virtual BOOL RemoveIgnoredHost(const wchar_t* host) = 0;
};

// The host's callback object. The plug-in calls slots 2, 4 and 5 only, on the
// thread that called the plug-in operation, and takes no lock around them.
//
// Host values read through GetHostValue (the plug-in presets the target and
// ignores the result except where noted):
//   "MaxMatchDifference"  float*          match threshold, preset 1.0
//   "HttpProxy"           CString*        "host:port", preset empty (a
//                                         string on the plug-in's manager)
//   "HostIgnore"          CHostIgnore**   used only when the call returns
//                                         nonzero and the pointer is set
class CHostCallback {
 public:
  // Slot 0: never called by the plug-in.
  virtual ~CHostCallback() {}
  // Slot 1: the host's own; never called by the plug-in.
  virtual void HostReserved1() {}
  // Slot 2: writes the value named `name` into `value`; nonzero on success.
  virtual BOOL GetHostValue(const CString& name, void* value) = 0;
  // Slot 3: the host's own; never called by the plug-in.
  virtual void HostReserved3() {}
  // Slot 4.
  virtual void Notify() = 0;
  // Slot 5: true when the host wants the running operation ended.
  virtual bool IsStopRequested() = 0;
};

// The plug-in object as the host sees it. The object's memory is the
// plug-in's: the host ends it through slot 0 only, never with its own heap.
class CLyricsDllInterface {
 public:
  // Slot 0: the scalar deleting destructor. Deleting an object unregisters
  // it and destroys its cache.
  virtual ~CLyricsDllInterface() {}

  // Slot 1. Settable: "LocalCacheFolder", "LogFolder", "TraceLevel",
  // "ParentLogfilePath". 1 when accepted; a null value gives 0.
  virtual BOOL SetProperty(const CString& name, const CString* value) = 0;
  // Slot 2. Readable: "SourceName", "SourceId" (CString*);
  // "StatisticDownloadCounter", "StatisticSuccessfulDownloads",
  // "StatisticTotalDownloadTime" (unsigned int*); "SupportedSearch",
  // "AlbumsItearationConstant", "TitlesItearationConstant" (int*).
  virtual BOOL GetProperty(const CString& name, void* value) = 0;
  // Slot 3. Methods: "CloseAndMergeLog". `argument` is never read.
  virtual BOOL CallMethod(const CString& name, void* argument) = 0;
  // Slot 4. Writes the artist page address (site host + path); 1 when found.
  virtual BOOL FindArtistUrl(const CString& artist, CString& artistUrl) = 0;
  // Slot 5. Replaces `songs` with the artist's songs; returns their number.
  virtual int FindArtistSongList(const CString& artist, versewell_host::List<SongListEntry>& songs) = 0;
  // Slot 6. Writes the song's lyrics with CR LF line breaks; 1 when found.
  virtual BOOL GetLyrics(const CString& songUrl, CString& lyrics) = 0;
  // Slot 7. Registers (or, with null, unregisters) the host callback.
  // Returns 1 for a non-null host, 0 for null. Until a host is registered
  // every download and search fails at once.
  virtual BOOL SetHostCallback(CHostCallback* host) = 0;
  // Slot 8. Not supported by lyrics plug-ins: always 0.
  virtual BOOL ExtraSearch(int a, int b, int c, int d) = 0;
  // Slot 9. Calls the host's Notify when a host is registered.
  virtual void NotifyHost() = 0;
  // Slot 10. True without a host; otherwise the host's answer.
  virtual bool IsStopRequested() = 0;
  // Slot 11. Downloads `address` (site host + path) through the host's
  // proxy and writes the page text; 1 on success.
  virtual BOOL Download(const CString& address, CString& page) = 0;

 protected:
  CLyricsDllInterface() : m_pHostCallback(nullptr) {}
  CHostCallback* m_pHostCallback;
};

// The library's one export, undecorated. Every call creates a new,
// independent plug-in object owned by the caller.
extern "C" CLyricsDllInterface* __cdecl GetDllInterface();
typedef CLyricsDllInterface*(__cdecl* PFN_GetDllInterface)();

#endif  // VERSEWELL_PLUGIN_WINDOWS_H

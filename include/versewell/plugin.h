// The Versewell host interface.
//
// A host loads libversewell.so (versewell.dll on Windows), resolves the one
// exported function GetDllInterface and receives plug-in objects through the
// abstract class CLyricsDllInterface. It hands each object a CHostCallback of
// its own, configures it through named properties, and calls the three search
// operations FindArtistUrl, FindArtistSongList and GetLyrics.
//
// This header and the headers it includes are self-contained and header-only:
// a host compiles against them and links nothing but the platform's loader
// library. Host and plug-in must be built with the same toolchain, because
// CString, std::wstring and std::list cross the boundary.
//
// Ownership:
//   - The host owns every plug-in object and ends its life with `delete`
//     through CLyricsDllInterface. Objects still alive when the library is
//     unloaded are deleted by the library, oldest first.
//   - The host owns its CHostCallback and CHostIgnore objects; the plug-in
//     never deletes them and uses them only while they are registered.
//   - The host owns the song list it passes to FindArtistSongList.
// Failure: every operation reports failure as a 0 result (or an empty list)
//   plus a line in the plug-in's trace log; nothing is thrown to the host
//   except allocation failures (on Windows not even those: GetDllInterface
//   then returns null and logs the failure).
// Threads: one plug-in object must be driven by one host thread at a time;
//   distinct objects may be used from different threads at once, and the
//   trace log's properties ("LogFolder", "TraceLevel", "ParentLogfilePath")
//   and "CloseAndMergeLog" may be used on one thread while other objects
//   search on others. Objects that share one cache folder may search at
//   once.
//
// Virtual slot order is part of the contract and must not change.
#ifndef VERSEWELL_PLUGIN_H
#define VERSEWELL_PLUGIN_H

#include <list>
#include <string>

#include "cstring.h"

typedef int BOOL;

// One song as the plug-in reports it. Field order is part of the ABI.
struct SongEntry {
  std::wstring Title;
  std::wstring Artist;
  std::wstring Extra1;
  std::wstring Url;
  bool Flag = false;

  SongEntry() = default;
  // Leaves Url empty.
  SongEntry(const std::wstring& title, const std::wstring& artist, const std::wstring& extra1, bool flag)
      : Title(title), Artist(artist), Extra1(extra1), Flag(flag) {}
  SongEntry(const SongEntry&) = default;
  SongEntry& operator=(const SongEntry&) = default;
};

// The element type of the host's song list: a SongEntry plus the identity of
// the plug-in that produced it.
struct SongListEntry : SongEntry {
  std::wstring Extra2;
  std::wstring SourceName;
  std::wstring SourceId;

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
//   "HttpProxy"           CString*        "host:port", preset empty
//   "HostIgnore"          CHostIgnore**   used only when the call returns
//                                         nonzero and the pointer is set
class CHostCallback {
 public:
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

// The plug-in object as the host sees it.
class CLyricsDllInterface {
 public:
  CLyricsDllInterface() : m_pHostCallback(nullptr) {}
  // Slot 0. Deleting an object unregisters it and destroys its cache.
  virtual ~CLyricsDllInterface() {}

  // Slot 1. Settable: "LocalCacheFolder", "LogFolder", "TraceLevel",
  // "ParentLogfilePath". 1 when accepted.
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
  virtual int FindArtistSongList(const CString& artist, std::list<SongListEntry>& songs) = 0;
  // Slot 6. Writes the song's lyrics with CR LF line breaks; 1 when found.
  virtual BOOL GetLyrics(const CString& songUrl, CString& lyrics) = 0;
  // Slot 7. Registers (or, with null, unregisters) the host callback.
  // Returns 1 for a non-null host, 0 for null. Until a host is registered
  // every download and search fails at once.
  virtual BOOL SetHostCallback(CHostCallback* host) {
    m_pHostCallback = host;
    return host != nullptr ? 1 : 0;
  }
  // Slot 8. Not supported by lyrics plug-ins: always 0.
  virtual BOOL ExtraSearch(int a, int b, int c, int d) = 0;

 protected:
  CHostCallback* m_pHostCallback;
};

// The library's one export, undecorated. Every call creates a new,
// independent plug-in object owned by the caller.
extern "C" CLyricsDllInterface* GetDllInterface();
typedef CLyricsDllInterface* (*PFN_GetDllInterface)();

#endif  // VERSEWELL_PLUGIN_H

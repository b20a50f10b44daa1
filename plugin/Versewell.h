// CVersewell: the concrete plug-in object handed out by GetDllInterface.
//
// Construction fills the identity (version, source name "Versewell", code
// page 65001, site host) on top of the common part, which also computes the
// module fingerprint; destruction removes the object from
// g_InterfaceRegistry. The three searches live in search/ (search/Searches.h)
// and run against the object's ISearchContext (plugin/Versewell.cpp); the
// overrides below are their boundary to the host (plugin/SearchBoundary.cpp):
// nothing raised underneath (allocation, conversion, a transport or file
// layer that throws) reaches the host. Such a search ends with its failure
// result (0, GetLyrics with empty lyrics) and one TRACE_ERROR line
// "<operation>(): stopped by an exception: <what>".
// Threads: one host thread at a time per object.
#ifndef VERSEWELL_PLUGIN_VERSEWELL_H
#define VERSEWELL_PLUGIN_VERSEWELL_H

#include "plugin/LyricsDllCommon.h"

class CVersewell : public CLyricsDllCommon {
 public:
  CVersewell();
  ~CVersewell() override;

  // Slot 4.
  BOOL FindArtistUrl(const CString& artist, CString& artistUrl) override;
  // Slot 5.
  int FindArtistSongList(const CString& artist, std::list<SongListEntry>& songs) override;
  // Slot 6.
  BOOL GetLyrics(const CString& songUrl, CString& lyrics) override;

 private:
  // The object as the searches see it; made for each search call.
  class CSearchContext;
};

#endif  // VERSEWELL_PLUGIN_VERSEWELL_H
